#pragma once

#include <QStyledItemDelegate>

// Draws a port list item as its text with a description in a second, dimmer column.
// The description lives in its own role, so the item's text stays the bare port
// name that the combo box shows and hands back.
class CPortItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    static constexpr int kDescriptionRole = Qt::UserRole + 1;
    // True for a port whose device does not exist: drawn in grey.
    static constexpr int kMissingRole = Qt::UserRole + 2;

    explicit CPortItemDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where the description column starts, from the item's left edge.
    void SetDescriptionColumn(int x);
    int DescriptionColumn() const { return m_descriptionColumn; }

  private:
    int m_descriptionColumn = 0;
};
