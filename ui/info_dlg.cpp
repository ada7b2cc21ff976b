#include "ui/info_dlg.h"

#include <algorithm>

#include <QEvent>
#include <QFontMetrics>

#include "framework/data_exchange.h"
#include "resources/fonts.h"
#include "resources/palette.h"
#include "resources/string_table.h"

namespace {

constexpr int kLabelSlack = 10;         // label width beyond the text's
constexpr int kWindowBeyondLabel = 30;  // window width beyond the label's

}  // namespace

CInfoDlg::CInfoDlg(QWidget* parent) : CBCGPDialog(IDD_INFO_DIALOG, parent) {}

CInfoDlg::~CInfoDlg() = default;

void CInfoDlg::DoDataExchange(CDataExchange* pDX) {
    CBCGPDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_INFO_TEXT, m_stcText);
    DDX_Text(pDX, IDC_INFO_TEXT, m_strMessage);
    DDX_Control(pDX, IDOK, m_btnOK);
}

bool CInfoDlg::OnInitDialog() {
    CBCGPDialog::OnInitDialog();

    SetBackgroundColor(Palette::kBackground, true);
    m_btnOK.SetButtonSemiflat(1);
    m_btnOK.m_crBackground = Palette::kBackground;
    m_btnOK.SetTextColor(Palette::kLightText, QColor(), QColor());
    // White, unlike the main window's buttons.
    m_btnOK.m_crText = Palette::kWhite;
    m_btnOK.SetFontSize(-16, 700);

    m_stcText.m_pFont = MakeLabelFont();
    m_stcText.m_crText = Palette::kLightText;

    FitLayoutToMessage();
    return true;
}

// The window's width counts its frame, as the platform draws it. The native window
// is made first so that platforms which know their frame up front (offscreen, most
// compositors) report it here; a window manager that adds the frame only once the
// window is mapped reports it on showing, and the fit is done again then. Until a
// frame is known its width counts as 0 and the client area takes the whole width.
void CInfoDlg::FitLayoutToMessage() {
    winId();
    // A second line (the instrument's limits under a refused speed) makes the box taller by
    // a line, once; the widest line sets the width.
    const QFontMetrics metrics(*m_stcText.m_pFont);
    const QStringList lines = m_strMessage.split(u'\n');
    int textWidth = 0;
    for (const QString& line : lines) {
        textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
    }
    const int extra = static_cast<int>(lines.size() - 1) * metrics.lineSpacing() - m_addedHeight;
    m_addedHeight += extra;

    const QRect label = m_stcText.geometry();
    m_stcText.setGeometry(label.x(), label.y(), textWidth + kLabelSlack, label.height() + extra);

    m_fittedFrameWidth = FrameWidth();
    const int windowWidth = m_stcText.width() + kWindowBeyondLabel;

    const QRect button = m_btnOK.geometry();
    m_btnOK.move((windowWidth - button.width()) / 2, button.y() + extra);

    setFixedSize(windowWidth - m_fittedFrameWidth, height() + extra);
}

int CInfoDlg::FrameWidth() const {
    return frameGeometry().width() - width();
}

void CInfoDlg::showEvent(QShowEvent* event) {
    CBCGPDialog::showEvent(event);
    RefitIfFrameChanged();
}

// A window manager frames the window after it is shown: the frame becomes known with the
// move, resize or activation that follows, never with the show itself.
bool CInfoDlg::event(QEvent* event) {
    const bool handled = CBCGPDialog::event(event);
    switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
            RefitIfFrameChanged();
            break;
        default:
            break;
    }
    return handled;
}

void CInfoDlg::RefitIfFrameChanged() {
    if (m_stcText.m_pFont && FrameWidth() != m_fittedFrameWidth) {
        FitLayoutToMessage();
    }
}

void ShowInformation(int stringId, const QString& detail) {
    CInfoDlg dialog;
    dialog.m_strMessage =
        LoadStringResource(stringId) + (detail.isEmpty() ? QString() : "\n" + detail);
    dialog.DoModal();
}
