#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// Dialog templates: every dialog's size, caption, font and controls as numbers in
// dialog units, the way a resource script holds them. The dialog framework builds
// the widgets from these rows; nothing here knows about widgets.

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_MAIN_DIALOG = 102;
inline constexpr int IDD_INFO_DIALOG = 129;
inline constexpr int IDD_PORT_SETTING_DIALOG = 130;

// Controls that nobody addresses carry no ID of their own.
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Main window (102).
inline constexpr int IDC_TIME_READOUT = 1000;
inline constexpr int IDC_SPEED_READOUT = 1001;
inline constexpr int IDC_TIME_EDIT = 1002;
inline constexpr int IDC_TIME_SPIN = 1003;
inline constexpr int IDC_SPEED_EDIT = 1004;
inline constexpr int IDC_SPEED_SPIN = 1005;
inline constexpr int IDC_START = 1006;
inline constexpr int IDC_SAVE = 1008;
inline constexpr int IDC_STOP = 1009;
inline constexpr int IDC_GRAPH = 1010;
inline constexpr int IDC_TIME_SCREEN_LABEL = 1012;
inline constexpr int IDC_SPEED_SCREEN_LABEL = 1013;
inline constexpr int IDC_TIME_LABEL = 1014;
inline constexpr int IDC_SPEED_LABEL = 1015;
inline constexpr int IDC_TIME_UNIT_LABEL = 1016;
inline constexpr int IDC_SPEED_UNIT_LABEL = 1017;

// Port setting (130).
inline constexpr int IDC_PORT_LABEL = 1009;
inline constexpr int IDC_BAUD_LABEL = 1010;
inline constexpr int IDC_PORT_COMBO = 1012;
inline constexpr int IDC_BAUD_COMBO = 1013;

// Information (129).
inline constexpr int IDC_INFO_TEXT = 1011;

// The program's icon, shown by the About box's static icon.
inline constexpr int IDR_MAINFRAME = 128;

enum class DialogControlKind {
    PushButton,
    StaticText,   // a line of text
    StaticFrame,  // an empty static: a placeholder area, often with an edge
    StaticIcon,
    Edit,
    ComboBox,
    UpDown,
};

// Control styles, one bit each; only those the templates use.
enum DialogControlStyle : unsigned {
    kCtlTabStop = 1u << 0,
    kCtlGroup = 1u << 1,
    kCtlDisabled = 1u << 2,
    kCtlDefPushButton = 1u << 3,
    kCtlLeft = 1u << 4,    // static text: left-aligned
    kCtlCenter = 1u << 5,  // static text: centred
    kCtlNoPrefix = 1u << 6,
    kCtlStaticEdge = 1u << 7,
    kCtlModalFrameEdge = 1u << 8,
    kCtlAutoHScroll = 1u << 9,
    kCtlDropDownList = 1u << 10,  // combo box: selection only
    kCtlDropDown = 1u << 11,      // combo box: with an edit field
    kCtlVScroll = 1u << 12,
    kCtlArrowKeys = 1u << 13,  // up-down
    kCtlAlignLeft = 1u << 14,  // up-down
};

// Window styles of the dialog itself.
enum DialogWindowStyle : unsigned {
    kDlgPopup = 1u << 0,
    kDlgVisible = 1u << 1,
    kDlgCaption = 1u << 2,
    kDlgSysMenu = 1u << 3,
    kDlgMinimizeBox = 1u << 4,
    kDlgModalFrame = 1u << 5,
    kDlgAppWindow = 1u << 6,  // extended style: a taskbar button of its own
};

struct DialogControlTemplate {
    int id;
    DialogControlKind kind;
    QString caption;
    int x, y, cx, cy;  // dialog units
    unsigned styles;
    int imageId = 0;           // static icon: the icon resource shown
    QStringList initialItems;  // combo box: items added before the first data exchange
};

struct DialogTemplate {
    int id;
    QString caption;
    int cx, cy;  // client size, dialog units
    QString fontFace;
    int fontPointSize;
    int fontWeight;  // QFont weight scale (400 normal)
    unsigned styles;
    std::vector<DialogControlTemplate> controls;  // template order = tab order

    const DialogControlTemplate* FindControl(int controlId) const;
};

// The template with that ID, or nullptr.
const DialogTemplate* FindDialogTemplate(int templateId);
