#pragma once

#include <QString>

#include "framework/bcgp_dialog.h"
#include "widgets/lum_static.h"
#include "widgets/vex_button.h"

// The program's own message box: one line of text in the label font over the
// window colour, and OK. The dialog's width follows the text: the label is the
// text's width + 10 pixels, the window (frame included) 40 pixels wider than the
// text, and OK at x = (window width - button width) / 2 in client coordinates, a
// little right of centre by the frame's width; the height stays the template's.
class CInfoDlg : public CBCGPDialog {
    Q_OBJECT
  public:
    explicit CInfoDlg(QWidget* parent = nullptr);
    ~CInfoDlg() override;

    bool OnInitDialog() override;

    CLumStatic m_stcText;
    QString m_strMessage;
    CVexButton m_btnOK;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void RefitIfFrameChanged();
    void FitLayoutToMessage();
    int FrameWidth() const;

    int m_fittedFrameWidth = 0;
    // Height added for the lines after the first.
    int m_addedHeight = 0;
};

// Shows string stringId of the string table in an information dialog with no
// parent and returns once the operator has closed it.
// `detail`, when given, is a line below the string.
void ShowInformation(int stringId, const QString& detail = {});
