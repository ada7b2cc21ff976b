#include "resources/fonts.h"

#include <QStringList>

namespace {

constexpr int kLabelFontPixelHeight = 18;

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

std::unique_ptr<QFont> MakeLabelFont() {
    auto font = std::make_unique<QFont>();
    // Qt walks the list and takes the first face installed; the last ones only
    // matter on a machine without fonts-arphic-uming.
    font->setFamilies({QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                       QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Liberation Serif")});
    font->setStyleHint(QFont::Serif);
    font->setPixelSize(kLabelFontPixelHeight);
    font->setWeight(QFont::DemiBold);
    return font;
}
