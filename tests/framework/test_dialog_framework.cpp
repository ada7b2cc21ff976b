#include <gtest/gtest.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <vector>

#include "dialog_test_support.h"
#include "framework/bcgp_dialog.h"
#include "framework/data_exchange.h"

using namespace dialog_test;

namespace {

// Two validated entry fields on the main window's template, exchanged as the main
// window exchanges them, and two attached member buttons.
class CEntryTestDlg : public CDialog {
  public:
    CEntryTestDlg() : CDialog(IDD_MAIN_DIALOG) {}

    int m_nTime = 6;
    int m_nSpeed = 300;
    QPushButton m_btnClose;
    QPushButton m_btnStop;
    std::vector<int> m_commands;

    QLineEdit* TimeEdit() const { return qobject_cast<QLineEdit*>(GetDlgItem(IDC_TIME_EDIT)); }
    QLineEdit* SpeedEdit() const { return qobject_cast<QLineEdit*>(GetDlgItem(IDC_SPEED_EDIT)); }

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, IDC_STOP, m_btnStop);
        DDX_Control(pDX, IDCANCEL, m_btnClose);
        DDX_Text(pDX, IDC_TIME_EDIT, m_nTime);
        DDX_Text(pDX, IDC_SPEED_EDIT, m_nSpeed);
        DDV_MinMaxInt(pDX, m_nTime, 0, 71940);
        DDV_MinMaxInt(pDX, m_nSpeed, 100, 800);
    }
    void OnCommand(int controlId) override {
        m_commands.push_back(controlId);
        CDialog::OnCommand(controlId);
    }
};

// Shown, not modal, so that focus and painting behave as on the screen.
void ShowCreated(CDialog& dialog) {
    ASSERT_TRUE(dialog.Create());
    dialog.show();
}

TEST(Templates, BuildInDialogUnitsOfTheTemplateFont) {
    // Liberation Sans at 11 px (8 pt) has base units 6 x 12, at 12 px (9 pt) 7 x 14.
    CDialog port(IDD_PORT_SETTING_DIALOG);
    EXPECT_EQ(port.size(), QSize(279, 150));
    EXPECT_EQ(port.windowTitle(), "Port Setting");
    EXPECT_EQ(port.GetDlgItem(IDOK)->geometry(), QRect(42, 119, 75, 21));
    EXPECT_EQ(CDialog(IDD_INFO_DIALOG).size(), QSize(549, 126));
    CDialog main(IDD_MAIN_DIALOG);
    EXPECT_EQ(main.size(), QSize(1031, 593));
    EXPECT_EQ(main.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 17);
    EXPECT_FALSE(main.GetDlgItem(IDC_STOP)->isEnabled());

    // A static icon takes the icon's own size, whatever its row says.
    CDialog about(IDD_ABOUTBOX);
    const QList<QLabel*> labels = about.findChildren<QLabel*>();
    const auto icon = std::find_if(labels.begin(), labels.end(),
                                   [](QLabel* label) { return !label->pixmap().isNull(); });
    ASSERT_NE(icon, labels.end());
    EXPECT_EQ((*icon)->geometry(),
              QRect(about.MapDialogRect(11, 17, 0, 0).topLeft(), QSize(32, 32)));

    EXPECT_EQ(CDialog(999).DoModal(), -1);

    const DialogBaseUnits units{7, 14};
    EXPECT_EQ(units.MapX(2), 4) << "3.5 rounds away from zero, as MulDiv";
    EXPECT_EQ(units.MapRect(1, 3, 1, 1), QRect(2, 5, 2, 2)) << "edges are mapped, not sizes";
}

TEST(DialogFramework, AttachesMembersInPlaceOfTheTemplateControlsInTabOrder) {
    CEntryTestDlg dialog;
    const QRect stopArea = dialog.GetDlgItem(IDC_STOP)->geometry();
    ShowCreated(dialog);

    EXPECT_EQ(dialog.GetDlgItem(IDC_STOP), &dialog.m_btnStop);
    EXPECT_EQ(dialog.m_btnStop.parentWidget(), &dialog);
    EXPECT_EQ(dialog.m_btnStop.geometry(), stopArea);
    EXPECT_EQ(dialog.m_btnStop.text(), "Stop");
    EXPECT_FALSE(dialog.m_btnStop.isEnabled());
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 4);
    EXPECT_EQ(dialog.TimeEdit()->text(), "6");
    EXPECT_EQ(dialog.SpeedEdit()->text(), "300");

    // The first tab stop has the focus; Tab walks the template's order.
    EXPECT_EQ(dialog.focusWidget(), &dialog.m_btnClose);
    std::vector<int> tabOrder;
    QWidget* widget = &dialog.m_btnClose;
    do {
        for (const DialogControlTemplate& row : dialog.Template().controls) {
            if (row.id != IDC_STATIC && dialog.GetDlgItem(row.id) == widget) {
                tabOrder.push_back(row.id);
            }
        }
        do {
            widget = widget->nextInFocusChain();
        } while (widget->focusPolicy() == Qt::NoFocus && widget != &dialog.m_btnClose);
    } while (widget != &dialog.m_btnClose);
    EXPECT_EQ(tabOrder, std::vector<int>({IDCANCEL, IDC_TIME_EDIT, IDC_SPEED_EDIT, IDC_START,
                                          IDC_SAVE, IDC_STOP}));

    dialog.m_btnStop.setEnabled(true);
    dialog.m_btnStop.click();
    EXPECT_EQ(dialog.m_commands, std::vector<int>({IDC_STOP}));
    dialog.hide();
}

TEST(DataExchange, AnythingButAWholeIntIsRefusedAndStopsTheExchange) {
    for (const char* text : {"abc", "", "99999999999", "12abc"}) {
        CEntryTestDlg dialog;
        ShowCreated(dialog);
        dialog.TimeEdit()->setText(QString::fromLatin1(text));
        dialog.SpeedEdit()->setText("500");

        QString message;
        AnswerMessageBox(&message, &dialog);
        EXPECT_FALSE(dialog.UpdateData(true)) << text;
        EXPECT_EQ(message, "Please enter an integer.") << text;
        EXPECT_EQ(dialog.m_nTime, 6) << text;
        EXPECT_EQ(dialog.m_nSpeed, 300) << "later fields are not read after a failure";
        EXPECT_EQ(dialog.focusWidget(), dialog.TimeEdit()) << text;
        EXPECT_EQ(dialog.TimeEdit()->selectedText(), dialog.TimeEdit()->text()) << text;
    }
}

TEST(DataExchange, RangeMessagesNameTheBoundsAndKeepWhatWasRead) {
    CEntryTestDlg dialog;
    ShowCreated(dialog);
    QString message;

    dialog.TimeEdit()->setText("71941");
    AnswerMessageBox(&message, &dialog);
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(message, "Please enter an integer between 0 and 71940.");
    EXPECT_EQ(dialog.focusWidget(), dialog.TimeEdit()) << "the field out of range, not the last";

    dialog.TimeEdit()->setText(" 10 ");
    dialog.SpeedEdit()->setText("99");
    AnswerMessageBox(&message, &dialog);
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(message, "Please enter an integer between 100 and 800.");
    EXPECT_EQ(dialog.m_nTime, 10);
    EXPECT_EQ(dialog.m_nSpeed, 99);
    EXPECT_EQ(dialog.focusWidget(), dialog.SpeedEdit());

    // Writing leaves the bounds alone (a message box here would never be answered).
    dialog.m_nTime = -1;
    EXPECT_TRUE(dialog.UpdateData(false));
    EXPECT_EQ(dialog.TimeEdit()->text(), "-1");
}

TEST(DataExchange, ComboStringSelectsTheFirstItemBeginningWithTheText) {
    class CComboTestDlg : public CDialog {
      public:
        CComboTestDlg() : CDialog(IDD_PORT_SETTING_DIALOG) {}
        QString m_strPort = QStringLiteral("com1");
        QString m_strBaud = QStringLiteral("9600");
        void DoDataExchange(CDataExchange* pDX) override {
            DDX_CBString(pDX, IDC_PORT_COMBO, m_strPort);
            DDX_CBString(pDX, IDC_BAUD_COMBO, m_strBaud);
        }
    } dialog;
    ShowCreated(dialog);
    auto* port = qobject_cast<QComboBox*>(dialog.GetDlgItem(IDC_PORT_COMBO));
    auto* baud = qobject_cast<QComboBox*>(dialog.GetDlgItem(IDC_BAUD_COMBO));
    EXPECT_EQ(port->currentIndex(), 0) << "\"com1\" selects COM1, not COM10";
    EXPECT_EQ(baud->currentText(), "9600");

    dialog.m_strPort = "COM10";
    dialog.m_strBaud = "14400";
    dialog.UpdateData(false);
    EXPECT_EQ(port->currentIndex(), 9);
    EXPECT_EQ(baud->currentText(), "14400") << "no item: the text goes to the edit field";

    dialog.m_strPort = "ttyUSB0";
    dialog.m_strBaud = "2";
    dialog.UpdateData(false);
    EXPECT_EQ(port->currentText(), "COM10") << "a list without edit field keeps its choice";
    EXPECT_EQ(baud->currentText(), "2400");

    port->setCurrentIndex(2);
    baud->setEditText("abc");
    EXPECT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.m_strPort, "COM3");
    EXPECT_EQ(dialog.m_strBaud, "abc");
}

TEST(DialogFramework, EnterAcceptsOnlyValidFields) {
    CEntryTestDlg dialog;
    QString message;
    bool openAfterInvalid = false;
    WhenModal([&](QWidget*) {
        TypeText(dialog.SpeedEdit(), "90");
        AnswerMessageBox(&message, &dialog);
        PressKey(&dialog, Qt::Key_Enter, Qt::KeypadModifier);
        openAfterInvalid = dialog.isVisible();
        TypeText(dialog.SpeedEdit(), "310");
        PressKey(&dialog, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(message, "Please enter an integer between 100 and 800.");
    EXPECT_TRUE(openAfterInvalid);
    EXPECT_EQ(dialog.m_nSpeed, 310);
}

TEST(DialogFramework, EscapeAndTheCloseBoxCancelWithoutReading) {
    CEntryTestDlg escaped;
    WhenModal([&escaped](QWidget*) {
        TypeText(escaped.TimeEdit(), "9");
        PressKey(&escaped, Qt::Key_Escape);
    });
    EXPECT_EQ(escaped.DoModal(), IDCANCEL);
    EXPECT_EQ(escaped.m_nTime, 6);

    CEntryTestDlg closed;
    WhenModal([](QWidget* modal) { modal->close(); });
    EXPECT_EQ(closed.DoModal(), IDCANCEL);
}

TEST(DialogFramework, EnterPressesTheFocusedButtonInsteadOfAccepting) {
    CEntryTestDlg dialog;
    bool stillOpen = false;
    WhenModal([&](QWidget*) {
        dialog.GetDlgItem(IDC_START)->setFocus();
        PressKey(&dialog, Qt::Key_Return);
        stillOpen = dialog.isVisible();
        dialog.m_btnClose.setFocus();
        PressKey(&dialog, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(dialog.m_commands, std::vector<int>({IDC_START, IDCANCEL}));
}

TEST(DialogFramework, CentresOnTheScreenOrOverItsOwner) {
    auto centreOf = [](CDialog&& dialog) {
        QPoint centre;
        WhenModal([&](QWidget* modal) {
            centre = modal->frameGeometry().center();
            modal->close();
        });
        dialog.DoModal();
        return centre;
    };
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((centreOf(CDialog(IDD_PORT_SETTING_DIALOG)) - screen).manhattanLength(), 2);

    QWidget owner;
    owner.setGeometry(20, 30, 500, 400);
    owner.show();
    const QPoint over = owner.frameGeometry().center();
    EXPECT_LE((centreOf(CDialog(IDD_PORT_SETTING_DIALOG, &owner)) - over).manhattanLength(), 2);
    // Without a parent: over the active window, as over the program's own window.
    owner.activateWindow();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::activeWindow(), &owner);
    EXPECT_LE((centreOf(CDialog(IDD_PORT_SETTING_DIALOG)) - over).manhattanLength(), 2);
}

TEST(BCGPDialog, PaintsItsBackgroundColour) {
    CBCGPDialog dialog(IDD_INFO_DIALOG);
    ShowCreated(dialog);
    const QColor window(73, 86, 119);
    dialog.SetBackgroundColor(window, true);
    EXPECT_EQ(Grab(dialog).pixelColor(2, 2), window);
    dialog.SetBackgroundColor(QColor(), true);
    EXPECT_NE(Grab(dialog).pixelColor(2, 2), window);
}

}  // namespace
