#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <memory>

#include "dialog_test_support.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "sim/simulated_shaker.h"
#include "ui/port_choice.h"
#include "ui/port_item_delegate.h"
#include "ui/port_setting_dlg.h"

using namespace dialog_test;

namespace {

QComboBox* PortBox(CPortSettingDlg& dialog) {
    return qobject_cast<QComboBox*>(dialog.GetDlgItem(IDC_PORT_COMBO));
}

QComboBox* BaudBox(CPortSettingDlg& dialog) {
    return qobject_cast<QComboBox*>(dialog.GetDlgItem(IDC_BAUD_COMBO));
}

class PortChoiceTest : public ::testing::Test {
  protected:
    // Every test starts from nothing remembered.
    void SetUp() override { QFile::remove(ConfigurationPath()); }
    // The window's step before it connects, with `operate` working the open dialog.
    std::optional<PortChoice> Choose(std::function<void(CPortSettingDlg&)> operate,
                                     const std::function<std::string()>& startSimulator = nullptr) {
        WhenModal([operate](QWidget* modal) {
            auto* dialog = qobject_cast<CPortSettingDlg*>(modal);
            ASSERT_NE(dialog, nullptr);
            // Ports whose device is missing are taken without the question, unless a test asks.
            dialog->m_confirmMissing = [](const QString&) { return true; };
            operate(*dialog);
        });
        return ChoosePort(startSimulator);
    }

    // The chosen port answers a handshake.
    void ExpectAnswers(const PortChoice& choice) {
        CSerialChannel channel;
        channel.SetBytePause(std::chrono::milliseconds(0));
        channel.SetLogDirectory(m_logDirectory.path().toStdString());
        ASSERT_EQ(channel.Open(choice.portName, choice.baud), 1);
        EXPECT_EQ(CShakerProtocol(channel).Handshake(), 1);
        channel.Close();
    }

    QTemporaryDir m_logDirectory;
};

TEST_F(PortChoiceTest, OpensOnItsDefaultsThenOnTheLastChoice) {
    QString shownPort, shownRate;
    bool focusOnOk = false;
    const auto look = [&](CPortSettingDlg& dialog) {
        shownPort = PortBox(dialog)->currentText();
        shownRate = BaudBox(dialog)->currentText();
        focusOnOk = dialog.focusWidget() == &dialog.m_btnOK;
    };
    std::optional<PortChoice> choice = Choose([&](CPortSettingDlg& dialog) {
        look(dialog);
        PressKey(&dialog, Qt::Key_Return);
    });
    EXPECT_EQ(shownPort, "COM1");
    EXPECT_EQ(shownRate, "9600");
    EXPECT_TRUE(focusOnOk);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, "COM1") << "the item's text, not the lower-case default";
    EXPECT_EQ(choice->baud, 9600);

    choice = Choose([](CPortSettingDlg& dialog) {
        PortBox(dialog)->setCurrentIndex(4);
        TypeText(BaudBox(dialog), "115200");
        dialog.m_btnOK.click();
    });
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, "COM5");
    EXPECT_EQ(choice->baud, 115200);

    choice = Choose([&](CPortSettingDlg& dialog) {
        look(dialog);
        dialog.m_btnCancel.click();
    });
    EXPECT_EQ(shownPort, "COM5");
    EXPECT_EQ(shownRate, "115200");
}

// A listed port with no device behind it says so, and OK asks before taking it.
TEST_F(PortChoiceTest, APortThatIsNotPresentIsMarkedAndAskedAbout) {
    EXPECT_EQ(ComItemDescription("/dev/ttyS9", false), "/dev/ttyS9 (not present)");
    EXPECT_EQ(ComItemDescription("/dev/ttyS0", true), "/dev/ttyS0");
    int asked = 0;
    bool stillOpen = false;
    const auto choice = Choose([&](CPortSettingDlg& dialog) {
        QComboBox* port = PortBox(dialog);
        port->setCurrentIndex(9);  // COM10: /dev/ttyS9, which no machine here has
        EXPECT_TRUE(port->itemData(9, CPortItemDelegate::kDescriptionRole)
                        .toString()
                        .endsWith("(not present)"));
        dialog.m_confirmMissing = [&](const QString&) { return ++asked > 1; };
        dialog.m_btnOK.click();
        stillOpen = dialog.isVisible();
        dialog.m_btnOK.click();
    });
    EXPECT_TRUE(stillOpen) << "declined: the dialog stays";
    EXPECT_EQ(asked, 2);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, "COM10");
}

TEST_F(PortChoiceTest, CancelChoosesNothing) {
    EXPECT_FALSE(Choose([](CPortSettingDlg& dialog) {
        PortBox(dialog)->setCurrentIndex(2);
        TypeText(BaudBox(dialog), "19200");
        dialog.m_btnCancel.click();
    }));
}

TEST_F(PortChoiceTest, TypedRatesAreReadTheWayAtolReadsThem) {
    const std::pair<const char*, int> cases[] = {
        {"14400", 14400}, {"9600 baud", 9600}, {"", 0}, {"abc", 0}, {" -5", -5}};
    for (const auto& [typed, expected] : cases) {
        const auto choice = Choose([typed = typed](CPortSettingDlg& dialog) {
            TypeText(BaudBox(dialog), QString::fromLatin1(typed));
            PressKey(&dialog, Qt::Key_Return);  // Enter in the field is the default button
        });
        ASSERT_TRUE(choice) << typed;
        EXPECT_EQ(choice->baud, expected) << typed;
    }
}

TEST_F(PortChoiceTest, ChosenAndTypedPortNamesAreTakenUnchanged) {
    auto choice = Choose([](CPortSettingDlg& dialog) {
        PortBox(dialog)->setCurrentIndex(9);
        dialog.m_btnOK.click();
    });
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, "COM10");

    choice = Choose([](CPortSettingDlg& dialog) {
        TypeText(PortBox(dialog), "com3");
        PressKey(&dialog, Qt::Key_Return);
    });
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, "com3") << "typed text is not matched against the list";

    CSimulatedShaker shaker;
    ASSERT_TRUE(shaker.Start());
    const QString path = QString::fromStdString(shaker.SlavePath());
    choice = Choose([path](CPortSettingDlg& dialog) {
        TypeText(PortBox(dialog), path);
        PressKey(&dialog, Qt::Key_Return);
    });
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, shaker.SlavePath());
    ExpectAnswers(*choice);
}

TEST_F(PortChoiceTest, SimulatorItemStartsTheSimulatorThroughTheHook) {
    auto pickSimulator = [](bool confirm) {
        return [confirm](CPortSettingDlg& dialog) {
            QComboBox* port = PortBox(dialog);
            ASSERT_EQ(port->itemText(port->count() - 1), "Simulator");
            port->setCurrentIndex(port->count() - 1);
            (confirm ? dialog.m_btnOK : dialog.m_btnCancel).click();
        };
    };
    std::unique_ptr<CSimulatedShaker> shaker;
    int hookCalls = 0;
    auto startSimulator = [&]() -> std::string {
        ++hookCalls;
        shaker = std::make_unique<CSimulatedShaker>();
        return shaker->Start() ? shaker->SlavePath() : std::string();
    };

    EXPECT_FALSE(Choose(pickSimulator(false), startSimulator));
    EXPECT_EQ(hookCalls, 0) << "Cancel starts nothing";
    auto choice = Choose(pickSimulator(true), startSimulator);
    ASSERT_EQ(hookCalls, 1);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, shaker->SlavePath());
    ExpectAnswers(*choice);

    choice = Choose(pickSimulator(true));
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->portName, "Simulator") << "without a hook the text goes through";

    // Typed in any case, it is the simulator too.
    choice = Choose(
        [](CPortSettingDlg& dialog) {
            TypeText(PortBox(dialog), "simulator");
            PressKey(&dialog, Qt::Key_Return);
        },
        startSimulator);
    EXPECT_EQ(hookCalls, 2);
}

// The machine's devices replaced by a fixed set.
class CFixedDevicesDlg : public CPortSettingDlg {
  protected:
    std::vector<PortListEntry> DetectDevices() const override {
        return {{"/dev/ttyUSB10", "CP2102 USB to UART"}, {"/dev/ttyS0", ""},
                {"/dev/ttyUSB2", "FT232R USB UART"},     {"", "nameless"},
                {"/dev/ttyUSB2", "FT232R USB UART"},     {"/dev/ttyS12", ""}};
    }
};

TEST(PortList, DevicesFollowTheComItemsByPathThenTheSimulator) {
    CFixedDevicesDlg dialog;
    ASSERT_TRUE(dialog.Create());
    QComboBox* port = PortBox(dialog);
    QStringList items;
    for (int index = 0; index < port->count(); ++index) {
        items << port->itemText(index);
    }
    EXPECT_EQ(items,
              QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
                           "COM10", "/dev/ttyS12", "/dev/ttyUSB2", "/dev/ttyUSB10", "Simulator"}));
    EXPECT_EQ(port->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS0");

    // The description is drawn beside the item's text and never exchanged with it.
    auto* delegate = qobject_cast<CPortItemDelegate*>(port->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    QStyleOptionViewItem option;
    option.initFrom(port->view());
    option.font = port->font();
    option.fontMetrics = QFontMetrics(port->font());
    const int width = delegate->sizeHint(option, port->model()->index(11, 0)).width();
    EXPECT_GE(port->view()->minimumWidth(), width);
    auto inkInDescriptionColumn = [&](int row) {
        QImage image(width, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        option.rect = image.rect();
        delegate->paint(&painter, option, port->model()->index(row, 0));
        painter.end();
        const QRect column(delegate->DescriptionColumn(), 0, width, 20);
        return !PixelsNear(image, column, Qt::black, 150).isNull();
    };
    EXPECT_TRUE(inkInDescriptionColumn(11));   // /dev/ttyUSB2, FT232R USB UART
    EXPECT_FALSE(inkInDescriptionColumn(10));  // /dev/ttyS12, no description
    port->setCurrentIndex(11);
    EXPECT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.m_strPort, "/dev/ttyUSB2");
}

TEST(PortSettingLook, WindowColourWithWhiteCaptionsAndLabels) {
    const QColor window(73, 86, 119), white(255, 255, 255);
    CPortSettingDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.show();
    const QImage painted = Grab(dialog);
    EXPECT_EQ(painted.pixelColor(3, 3), window);
    for (QWidget* control : std::initializer_list<QWidget*>{
             &dialog.m_stcPort, &dialog.m_stcBaudrate, &dialog.m_btnOK, &dialog.m_btnCancel}) {
        EXPECT_FALSE(PixelsNear(painted, control->geometry(), white, 40).isNull())
            << "caption drawn in white";
    }
    const QPoint insideFace = dialog.m_btnCancel.geometry().topLeft() + QPoint(3, 3);
    EXPECT_TRUE(Near(painted.pixelColor(insideFace), window, 40)) << "face in the window colour";
    dialog.hide();
}

}  // namespace
