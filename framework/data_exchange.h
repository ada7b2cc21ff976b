#pragma once

#include <QPointer>
#include <QString>
#include <utility>
#include <vector>

class CDialog;
class QWidget;

// One run of a dialog's data exchange, in one direction. A failed step (a field
// that doesn't validate) tells the operator, puts the focus on the field and marks
// the exchange failed; every later step then does nothing, so members read before
// the failure keep their new values and the rest keep their old ones.
class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, bool saveAndValidate);

    const bool m_bSaveAndValidate;  // true: controls to members
    CDialog* const m_pDlgWnd;

    bool Failed() const { return m_failed; }

    // The control a step is about to exchange; validation that follows refers to
    // it. nullptr (and the exchange failed) when the dialog has no such control.
    QWidget* PrepareCtrl(int controlId);
    QWidget* PrepareEditCtrl(int controlId);

    // Shows the message in a plain modal message box, gives the last prepared
    // control the focus (an edit field with its text selected) and marks failure.
    void Fail(const QString& message);

    // Remembers which edit field a member was read from, so that a range check
    // further on puts the focus on that field rather than on whichever field
    // happened to be exchanged last.
    void NoteMemberControl(const void* member, QWidget* control);
    void PrepareMemberCtrl(const void* member);

  private:
    QWidget* Prepare(int controlId, bool isEdit);

    bool m_failed = false;
    QPointer<QWidget> m_lastControl;
    bool m_lastControlIsEdit = false;
    std::vector<std::pair<const void*, QPointer<QWidget>>> m_memberControls;
};

// Attaches a member widget to a template control (both directions).
void DDX_Control(CDataExchange* pDX, int controlId, QWidget& control);

// A control's text as a decimal int; reading fails with "Please enter an integer."
// on anything that is not one.
void DDX_Text(CDataExchange* pDX, int controlId, int& value);

// A control's text as it stands.
void DDX_Text(CDataExchange* pDX, int controlId, QString& value);

// When reading: fails with "Please enter an integer between MIN and MAX." unless
// minValue <= value <= maxValue, with the focus on the field value was read from.
// Writing does not check.
// `detail`, when given, is a second line of the message (what else limits the value).
void DDV_MinMaxInt(CDataExchange* pDX, const int& value, int minValue, int maxValue,
                   const QString& detail = {});

// A combo box's text. Writing selects the first item that begins with the text,
// ignoring case, or else (with an edit field) puts the text into the edit field;
// reading takes the current text.
void DDX_CBString(CDataExchange* pDX, int controlId, QString& value);
