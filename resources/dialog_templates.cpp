#include "resources/dialog_templates.h"

#include <QFont>
#include <array>

namespace {

using Kind = DialogControlKind;

DialogControlTemplate Row(int id, Kind kind, const QString& caption, int x, int y, int cx, int cy,
                          unsigned styles) {
    DialogControlTemplate row{id, kind, caption, x, y, cx, cy, styles, 0, {}};
    return row;
}

DialogControlTemplate IconRow(int imageId, int x, int y, int cx, int cy) {
    DialogControlTemplate row{IDC_STATIC, Kind::StaticIcon, QString(), x, y, cx, cy,
                              0,          imageId,          {}};
    return row;
}

DialogControlTemplate ComboRow(int id, int x, int y, int cx, int cy, unsigned styles,
                               const QStringList& items) {
    DialogControlTemplate row{id, Kind::ComboBox, QString(), x, y, cx, cy, styles, 0, items};
    return row;
}

DialogTemplate MakeAboutTemplate() {
    return DialogTemplate{
        IDD_ABOUTBOX,
        QStringLiteral("About Velmora"),
        235,
        55,
        QStringLiteral("Microsoft Sans Serif"),
        9,
        QFont::Normal,
        kDlgPopup | kDlgCaption | kDlgSysMenu | kDlgModalFrame,
        {
            IconRow(IDR_MAINFRAME, 11, 17, 20, 20),
            Row(IDC_STATIC, Kind::StaticText, QStringLiteral("Velmora Version 1.2"), 40, 10, 119, 8,
                kCtlLeft | kCtlNoPrefix),
            Row(IDC_STATIC, Kind::StaticText, QStringLiteral("Laboratory shaker control"), 40, 25,
                119, 8, kCtlLeft),
            Row(IDOK, Kind::PushButton, QStringLiteral("OK"), 178, 7, 50, 16,
                kCtlDefPushButton | kCtlGroup | kCtlTabStop),
        },
    };
}

DialogTemplate MakeMainTemplate() {
    const unsigned readoutFrame = kCtlStaticEdge | kCtlModalFrameEdge;
    const unsigned entry = kCtlTabStop | kCtlAutoHScroll | kCtlStaticEdge;
    const unsigned spin = kCtlArrowKeys | kCtlAlignLeft;
    return DialogTemplate{
        IDD_MAIN_DIALOG,
        QStringLiteral("Velmora"),
        589,
        339,
        QStringLiteral("Microsoft Sans Serif"),
        9,
        QFont::Normal,
        kDlgPopup | kDlgVisible | kDlgCaption | kDlgSysMenu | kDlgMinimizeBox | kDlgModalFrame |
            kDlgAppWindow,
        {
            Row(IDCANCEL, Kind::PushButton, QStringLiteral("Close"), 506, 292, 50, 20, kCtlTabStop),
            Row(IDC_TIME_READOUT, Kind::StaticFrame, QString(), 393, 79, 163, 63, readoutFrame),
            Row(IDC_SPEED_READOUT, Kind::StaticFrame, QString(), 393, 168, 163, 63, readoutFrame),
            Row(IDC_TIME_EDIT, Kind::Edit, QString(), 426, 247, 25, 14, entry),
            Row(IDC_TIME_SPIN, Kind::UpDown, QString(), 462, 247, 10, 14, spin),
            Row(IDC_SPEED_EDIT, Kind::Edit, QString(), 505, 247, 21, 14, entry),
            Row(IDC_SPEED_SPIN, Kind::UpDown, QString(), 548, 247, 10, 14, spin),
            Row(IDC_START, Kind::PushButton, QStringLiteral("Start"), 421, 266, 50, 20,
                kCtlTabStop),
            Row(IDC_SAVE, Kind::PushButton, QStringLiteral("Save"), 421, 292, 50, 20, kCtlTabStop),
            Row(IDC_STOP, Kind::PushButton, QStringLiteral("Stop"), 506, 266, 50, 20,
                kCtlTabStop | kCtlDisabled),
            Row(IDC_TIME_SCREEN_LABEL, Kind::StaticText, QStringLiteral(" Time Screen:"), 392, 65,
                68, 11, kCtlLeft),
            Row(IDC_SPEED_SCREEN_LABEL, Kind::StaticText, QStringLiteral(" Speed Screen:"), 392,
                154, 68, 11, kCtlLeft),
            Row(IDC_TIME_LABEL, Kind::StaticText, QStringLiteral("Time:"), 394, 250, 31, 8,
                kCtlLeft),
            Row(IDC_SPEED_LABEL, Kind::StaticText, QStringLiteral("Speed:"), 473, 250, 31, 8,
                kCtlLeft),
            Row(IDC_TIME_UNIT_LABEL, Kind::StaticText, QStringLiteral("M"), 453, 250, 8, 8,
                kCtlLeft),
            Row(IDC_SPEED_UNIT_LABEL, Kind::StaticText, QStringLiteral("1/min"), 527, 250, 19, 8,
                kCtlLeft),
            Row(IDC_GRAPH, Kind::StaticFrame, QString(), 7, 7, 367, 325, 0),
        },
    };
}

DialogTemplate MakeInfoTemplate() {
    return DialogTemplate{
        IDD_INFO_DIALOG,
        QStringLiteral("Information"),
        366,
        84,
        QStringLiteral("MS Shell Dlg"),
        8,
        QFont::Normal,
        kDlgPopup | kDlgCaption | kDlgSysMenu | kDlgModalFrame,
        {
            Row(IDOK, Kind::PushButton, QStringLiteral("OK"), 157, 63, 50, 14,
                kCtlDefPushButton | kCtlTabStop),
            Row(IDC_INFO_TEXT, Kind::StaticText, QString(), 7, 17, 352, 22, kCtlCenter),
        },
    };
}

DialogTemplate MakePortSettingTemplate() {
    return DialogTemplate{
        IDD_PORT_SETTING_DIALOG,
        QStringLiteral("Port Setting"),
        186,
        100,
        QStringLiteral("MS Shell Dlg"),
        8,
        QFont::Normal,
        kDlgPopup | kDlgCaption | kDlgSysMenu | kDlgModalFrame,
        {
            Row(IDOK, Kind::PushButton, QStringLiteral("OK"), 28, 79, 50, 14,
                kCtlDefPushButton | kCtlTabStop),
            Row(IDCANCEL, Kind::PushButton, QStringLiteral("Cancel"), 107, 79, 50, 14, kCtlTabStop),
            Row(IDC_PORT_LABEL, Kind::StaticText, QStringLiteral("COM:"), 40, 24, 28, 8, kCtlLeft),
            Row(IDC_BAUD_LABEL, Kind::StaticText, QStringLiteral("Baudrate:"), 40, 51, 34, 8,
                kCtlLeft),
            ComboRow(IDC_PORT_COMBO, 79, 22, 63, 57, kCtlDropDownList | kCtlVScroll | kCtlTabStop,
                     {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                      QStringLiteral("COM4"), QStringLiteral("COM5"), QStringLiteral("COM6"),
                      QStringLiteral("COM7"), QStringLiteral("COM8"), QStringLiteral("COM9"),
                      QStringLiteral("COM10")}),
            ComboRow(IDC_BAUD_COMBO, 79, 49, 63, 69, kCtlDropDown | kCtlVScroll | kCtlTabStop,
                     {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                      QStringLiteral("9600"), QStringLiteral("19200")}),
        },
    };
}

}  // namespace

const DialogControlTemplate* DialogTemplate::FindControl(int controlId) const {
    if (controlId == IDC_STATIC) {
        return nullptr;
    }
    for (const DialogControlTemplate& control : controls) {
        if (control.id == controlId) {
            return &control;
        }
    }
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int templateId) {
    static const std::array<DialogTemplate, 4> templates = {
        MakeAboutTemplate(), MakeMainTemplate(), MakeInfoTemplate(), MakePortSettingTemplate()};
    for (const DialogTemplate& candidate : templates) {
        if (candidate.id == templateId) {
            return &candidate;
        }
    }
    return nullptr;
}
