#include "ui/port_item_delegate.h"

#include <QPainter>

namespace {

constexpr int kColumnGap = 16;
constexpr int kRightMargin = 6;

}  // namespace

CPortItemDelegate::CPortItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void CPortItemDelegate::SetDescriptionColumn(int x) {
    m_descriptionColumn = x;
}

void CPortItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool missing = index.data(kMissingRole).toBool();
    const bool selected = option.state & QStyle::State_Selected;
    if (missing && !selected) {
        QStyleOptionViewItem greyed = option;
        greyed.palette.setColor(QPalette::Text,
                                option.palette.color(QPalette::Disabled, QPalette::Text));
        QStyledItemDelegate::paint(painter, greyed, index);
    } else {
        QStyledItemDelegate::paint(painter, option, index);
    }
    const QString description = index.data(kDescriptionRole).toString();
    if (description.isEmpty()) {
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const int textWidth = item.fontMetrics.horizontalAdvance(item.text);
    const int left = option.rect.left() + qMax(m_descriptionColumn, textWidth + kColumnGap);
    QRect area = option.rect;
    area.setLeft(left);
    area.setRight(option.rect.right() - kRightMargin);

    // On the highlight the description is as plain as the name: faded, it would not read.
    QColor colour = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    colour.setAlphaF(selected ? 1.0 : missing ? 0.4 : 0.6);
    painter->save();
    painter->setPen(colour);
    painter->setFont(item.font);
    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                      item.fontMetrics.elidedText(description, Qt::ElideRight, area.width()));
    painter->restore();
}

QSize CPortItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString description = index.data(kDescriptionRole).toString();
    if (!description.isEmpty()) {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const int textWidth = item.fontMetrics.horizontalAdvance(item.text);
        const int left = qMax(m_descriptionColumn, textWidth + kColumnGap);
        size.setWidth(qMax(size.width(),
                           left + item.fontMetrics.horizontalAdvance(description) + kRightMargin));
    }
    return size;
}
