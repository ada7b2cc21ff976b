#include "ui/port_setting_dlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileInfo>
#include <QMessageBox>
#include <QScrollBar>
#include <algorithm>

#include "framework/data_exchange.h"
#include "resources/palette.h"
#include "ui/port_item_delegate.h"

namespace {

constexpr int kDescriptionGap = 16;
constexpr int kItemMargins = 16;

void StyleButton(CVexButton& button) {
    button.SetButtonSemiflat(1);
    button.m_crBackground = Palette::kBackground;
    button.SetTextColor(Palette::kWhite, QColor(), QColor());
    button.m_crText = Palette::kWhite;
    button.SetFontSize(-16, 700);
}

}  // namespace

QString ComItemDescription(const QString& devicePath, bool present) {
    return present ? devicePath : devicePath + QStringLiteral(" (not present)");
}

void CPortSettingDlg::OnOK() {
    auto* combo = qobject_cast<QComboBox*>(GetDlgItem(IDC_PORT_COMBO));
    const int index = combo != nullptr ? combo->findText(combo->currentText()) : -1;
    if (index >= 0 && combo->itemData(index, CPortItemDelegate::kMissingRole).toBool()) {
        const QString port = combo->currentText();
        const bool goAhead =
            m_confirmMissing
                ? m_confirmMissing(port)
                : QMessageBox::question(this, windowTitle(),
                                        QStringLiteral("%1 (%2) does not exist on this computer. "
                                                       "Connect to it anyway?")
                                            .arg(port, ComPortDevicePath(index + 1))) ==
                      QMessageBox::Yes;
        if (!goAhead) {
            return;
        }
    }
    CBCGPDialog::OnOK();
}

CPortSettingDlg::CPortSettingDlg(QWidget* parent) : CBCGPDialog(IDD_PORT_SETTING_DIALOG, parent) {}

CPortSettingDlg::~CPortSettingDlg() = default;

void CPortSettingDlg::DoDataExchange(CDataExchange* pDX) {
    CBCGPDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDOK, m_btnOK);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
    DDX_CBString(pDX, IDC_PORT_COMBO, m_strPort);
    DDX_CBString(pDX, IDC_BAUD_COMBO, m_strBaudrate);
    DDX_Control(pDX, IDC_PORT_LABEL, m_stcPort);
    DDX_Control(pDX, IDC_BAUD_LABEL, m_stcBaudrate);
}

std::vector<PortListEntry> CPortSettingDlg::DetectDevices() const {
    return DetectSerialDevices();
}

void CPortSettingDlg::PreparePortList() {
    auto* combo = qobject_cast<QComboBox*>(GetDlgItem(IDC_PORT_COMBO));
    if (combo == nullptr) {
        return;
    }
    // Any device path can be typed as well as chosen; a typed text stays as typed.
    combo->setEditable(true);
    combo->setCompleter(nullptr);
    combo->setInsertPolicy(QComboBox::NoInsert);

    for (int index = 0; index < combo->count(); ++index) {
        const QString devicePath = ComPortDevicePath(index + 1);
        const bool present = QFileInfo::exists(devicePath);
        const QString description = ComItemDescription(devicePath, present);
        combo->setItemData(index, description, CPortItemDelegate::kDescriptionRole);
        combo->setItemData(index, description, Qt::ToolTipRole);
        combo->setItemData(index, !present, CPortItemDelegate::kMissingRole);
    }
    for (const PortListEntry& entry : ExtraPortEntries(DetectDevices())) {
        combo->addItem(entry.text);
        const int index = combo->count() - 1;
        combo->setItemData(index, entry.description, CPortItemDelegate::kDescriptionRole);
        combo->setItemData(index, entry.description, Qt::ToolTipRole);
    }
    combo->setCurrentIndex(-1);
    // Every port and "Simulator" in sight at once: the list grows to hold them all.
    combo->setMaxVisibleItems(std::max(combo->count(), 1));

    // The list may be wider than the box: room for the longest name, then the
    // descriptions in a column of their own.
    const QFontMetrics metrics(combo->font());
    int textWidth = 0;
    int descriptionWidth = 0;
    for (int index = 0; index < combo->count(); ++index) {
        textWidth = qMax(textWidth, metrics.horizontalAdvance(combo->itemText(index)));
        descriptionWidth =
            qMax(descriptionWidth,
                 metrics.horizontalAdvance(
                     combo->itemData(index, CPortItemDelegate::kDescriptionRole).toString()));
    }
    auto* delegate = new CPortItemDelegate(combo);
    delegate->SetDescriptionColumn(textWidth + kDescriptionGap);
    combo->setItemDelegate(delegate);
    const int listWidth = textWidth + kDescriptionGap + descriptionWidth + kItemMargins +
                          combo->view()->verticalScrollBar()->sizeHint().width();
    combo->view()->setMinimumWidth(qMax(combo->width(), listWidth));
}

bool CPortSettingDlg::OnInitDialog() {
    // The extra items go in before the first exchange selects the defaults.
    PreparePortList();
    CBCGPDialog::OnInitDialog();

    SetBackgroundColor(Palette::kBackground, true);
    StyleButton(m_btnCancel);
    StyleButton(m_btnOK);
    m_stcPort.m_crText = Palette::kWhite;
    m_stcBaudrate.m_crText = Palette::kWhite;
    return true;
}
