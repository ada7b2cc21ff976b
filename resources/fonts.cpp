#include "resources/fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>

namespace {

constexpr long kLabelFontCellHeight = 18;
constexpr int kLabelFontWeight = 600;

bool IsWindowsDialogFace(const QString& faceName) {
    return faceName.compare(QLatin1String("MS Shell Dlg"), Qt::CaseInsensitive) == 0 ||
           faceName.compare(QLatin1String("MS Shell Dlg 2"), Qt::CaseInsensitive) == 0 ||
           faceName.compare(QLatin1String("Microsoft Sans Serif"), Qt::CaseInsensitive) == 0 ||
           faceName.compare(QLatin1String("MS Sans Serif"), Qt::CaseInsensitive) == 0;
}

}  // namespace

int PointsToPixelsAt96Dpi(int points) {
    // MulDiv rounds half away from zero.
    const int scaled = points * 96;
    return scaled >= 0 ? (scaled + 36) / 72 : -((-scaled + 36) / 72);
}

QFont MakeTemplateFont(const QString& faceName, int pointSize, int weight) {
    QFont font;
    if (IsWindowsDialogFace(faceName)) {
        font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    } else {
        font.setFamilies({faceName, QStringLiteral("Liberation Sans")});
    }
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(PointsToPixelsAt96Dpi(pointSize));
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

QFont DefaultWidgetFont() {
    return MakeTemplateFont(QStringLiteral("Microsoft Sans Serif"), 9);
}

QFont ResolveWidgetFont(const QFont& font) {
    const QFont fallback = DefaultWidgetFont();
    QFont resolved = font.resolve(fallback);
    // resolve() keeps only the mask of `font`; a painter would fill the rest in from
    // the device's (the machine's) font again.
    resolved.setResolveMask(font.resolveMask() | fallback.resolveMask());
    return resolved;
}

void ApplyWindowsHeight(QFont& font, long height) {
    if (height < 0) {
        font.setPixelSize(static_cast<int>(-height));
    } else if (height > 0) {
        font.setPixelSize(static_cast<int>(height));
        const QFontMetricsF metrics(font);
        const qreal cell = metrics.ascent() + metrics.descent();
        if (cell > 0) {
            const int em = qRound(height * height / cell);
            font.setPixelSize(qMax(1, em));
        }
    }
}

void ApplyWindowsWeight(QFont& font, int weight) {
    font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
    if (weight < QFont::DemiBold || weight >= QFont::Bold)
        return;
    const QString family = QFontInfo(font).family();
    int heaviest = 0;
    for (const QString& style : QFontDatabase::styles(family))
        heaviest = std::max(heaviest, QFontDatabase::weight(family, style));
    if (heaviest < weight)
        font.setWeight(QFont::Bold);
}

std::unique_ptr<QFont> MakeLabelFont() {
    auto font = std::make_unique<QFont>();
    // Qt walks the list and takes the first face installed; the last ones only
    // matter on a machine without fonts-arphic-uming.
    font->setFamilies({QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                       QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Liberation Serif")});
    font->setStyleHint(QFont::Serif);
    ApplyWindowsHeight(*font, kLabelFontCellHeight);
    ApplyWindowsWeight(*font, kLabelFontWeight);
    return font;
}
