#pragma once

#include <QDialog>
#include <QFont>
#include <vector>

#include "framework/dialog_units.h"
#include "resources/dialog_templates.h"

class CDataExchange;

// A modal dialog built from a dialog template, with the data exchange, accept and
// cancel of a classic dialog framework:
// - DoModal() shows the dialog and returns 1 (OK) or 2 (Cancel), or -1 when the
//   template does not exist.
// - OnInitDialog() runs once the controls exist and before the dialog is shown; the
//   base version writes the members into the controls (UpdateData(false)).
// - Enter presses the focused push button, else the default push button, else sends
//   OK; Escape and the close box send Cancel. OK reads and validates the controls and
//   closes with 1 only when that succeeds; Cancel closes with 2 without reading.
// - Button clicks arrive as commands (OnCommand) carrying the control ID.
// - The dialog is centred when shown: over its parent, or without one over the
//   active window, or on the screen when neither is up. OnDestroy() runs when the
//   modal loop has ended. A second DoModal runs OnInitDialog again on the same
//   controls.
class CDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    explicit CDialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);
    ~CDialog() override;

    int DoModal();

    // Runs OnInitDialog without showing the dialog (DoModal does this itself); for
    // showing a dialog modelessly. Returns false when the template does not exist.
    bool Create();

    // Runs DoDataExchange: controls to members when saveAndValidate is true (with
    // validation), members to controls otherwise. True when nothing failed.
    bool UpdateData(bool saveAndValidate = true);

    // Closes the dialog; DoModal returns the result.
    void EndDialog(int result);

    // The control with that ID (the member attached to it, or the template's own
    // widget), nullptr when the template has none.
    QWidget* GetDlgItem(int controlId) const;

    const DialogTemplate& Template() const { return m_template; }
    const QFont& TemplateFont() const { return m_templateFont; }
    const DialogBaseUnits& BaseUnits() const { return m_units; }
    QRect MapDialogRect(int x, int y, int width, int height) const;

    // Makes member the control of a template row: it takes the row's parent, place,
    // caption, state and styles, and the template's plain widget goes away. Used by
    // DDX_Control; attaching the same member again does nothing.
    bool AttachControl(int controlId, QWidget& member);

    virtual bool OnInitDialog();

    // A window larger than the screen's free area gets smaller as a whole: the dialog font
    // shrinks and every control's place with it, the template's proportions kept. `below`
    // is what the window adds under the template, at full size. Returns the factor applied
    // (1 when the template already fits) for what the dialog draws at sizes of its own.
    double ShrinkToFit(const QSize& room, int below = 0);
    // The screen's free area less what a window manager's frame takes.
    static QSize ScreenRoom();

  protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    // A button was clicked (or Enter/Escape stand for one). OK and Cancel go to
    // OnOK and OnCancel; other IDs are for derived dialogs.
    virtual void OnCommand(int controlId);
    // The modal loop has ended and the dialog is going away.
    virtual void OnDestroy();

    void keyPressEvent(QKeyEvent* event) override;
    void accept() override;
    void reject() override;

  private:
    CDialog(const DialogTemplate* dialogTemplate, int templateId, QWidget* parent);

    struct ControlSlot {
        const DialogControlTemplate* row;
        QWidget* widget;
        bool ownsWidget;  // the template's plain widget, not a member
    };

    void BuildControls();
    void ConnectCommand(int controlId, QWidget& widget);
    void RestoreTemplateOrder();
    void FocusFirstTabStop();
    void CentreBeforeShowing();
    // Sends a command the way a dialog manager does for Enter and Escape: not at all
    // when the control with that ID exists but is disabled.
    void SendKeyboardCommand(int controlId);
    ControlSlot* FindSlot(int controlId);
    const ControlSlot* FindSlot(int controlId) const;

    DialogTemplate m_template;
    bool m_templateFound;
    QFont m_templateFont;
    DialogBaseUnits m_units;
    std::vector<ControlSlot> m_controls;  // template order
};
