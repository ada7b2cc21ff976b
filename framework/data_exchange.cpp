#include "framework/data_exchange.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>

#include "framework/control_text.h"
#include "framework/dialog.h"
#include "framework/text_to_int.h"

namespace {

int FindItemStartingWith(const QComboBox& combo, const QString& prefix) {
    for (int index = 0; index < combo.count(); ++index) {
        if (combo.itemText(index).startsWith(prefix, Qt::CaseInsensitive)) {
            return index;
        }
    }
    return -1;
}

void SelectAllText(QWidget& control) {
    if (auto* edit = qobject_cast<QLineEdit*>(&control)) {
        edit->selectAll();
    } else if (auto* combo = qobject_cast<QComboBox*>(&control);
               combo != nullptr && combo->lineEdit() != nullptr) {
        combo->lineEdit()->selectAll();
    }
}

}  // namespace

CDataExchange::CDataExchange(CDialog* dialog, bool saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

QWidget* CDataExchange::Prepare(int controlId, bool isEdit) {
    QWidget* control = m_pDlgWnd->GetDlgItem(controlId);
    if (control == nullptr) {
        qWarning("dialog %d has no control %d to exchange", m_pDlgWnd->Template().id, controlId);
        m_failed = true;
        return nullptr;
    }
    m_lastControl = control;
    m_lastControlIsEdit = isEdit;
    return control;
}

void CDataExchange::NoteMemberControl(const void* member, QWidget* control) {
    for (auto& [known, knownControl] : m_memberControls) {
        if (known == member) {
            knownControl = control;
            return;
        }
    }
    m_memberControls.emplace_back(member, control);
}

void CDataExchange::PrepareMemberCtrl(const void* member) {
    for (const auto& [known, control] : m_memberControls) {
        if (known == member && control) {
            m_lastControl = control;
            m_lastControlIsEdit = true;
            return;
        }
    }
}

QWidget* CDataExchange::PrepareCtrl(int controlId) {
    return Prepare(controlId, false);
}

QWidget* CDataExchange::PrepareEditCtrl(int controlId) {
    return Prepare(controlId, true);
}

void CDataExchange::Fail(const QString& message) {
    m_failed = true;
    if (!message.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), message,
                        QMessageBox::Ok, m_pDlgWnd);
        box.exec();
    }
    if (m_lastControl) {
        m_lastControl->setFocus(Qt::OtherFocusReason);
        if (m_lastControlIsEdit) {
            SelectAllText(*m_lastControl);
        }
    }
}

void DDX_Control(CDataExchange* pDX, int controlId, QWidget& control) {
    if (pDX->Failed()) {
        return;
    }
    if (!pDX->m_pDlgWnd->AttachControl(controlId, control)) {
        pDX->Fail(QString());
    }
}

void DDX_Text(CDataExchange* pDX, int controlId, int& value) {
    if (pDX->Failed()) {
        return;
    }
    QWidget* control = pDX->PrepareEditCtrl(controlId);
    if (control == nullptr) {
        return;
    }
    if (!pDX->m_bSaveAndValidate) {
        SetControlText(*control, QString::number(value));
        return;
    }
    pDX->NoteMemberControl(&value, control);
    int parsed = 0;
    if (!ParseWholeInt(ControlText(*control), parsed)) {
        pDX->Fail(QStringLiteral("Please enter an integer."));
        return;
    }
    value = parsed;
}

void DDX_Text(CDataExchange* pDX, int controlId, QString& value) {
    if (pDX->Failed()) {
        return;
    }
    QWidget* control = pDX->PrepareEditCtrl(controlId);
    if (control == nullptr) {
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        value = ControlText(*control);
    } else {
        SetControlText(*control, value);
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, const int& value, int minValue, int maxValue,
                   const QString& detail) {
    if (pDX->Failed() || !pDX->m_bSaveAndValidate) {
        return;
    }
    if (value < minValue || value > maxValue) {
        pDX->PrepareMemberCtrl(&value);
        pDX->Fail(QStringLiteral("Please enter an integer between %1 and %2.")
                      .arg(minValue)
                      .arg(maxValue) +
                  (detail.isEmpty() ? QString() : QStringLiteral("\n") + detail));
    }
}

void DDX_CBString(CDataExchange* pDX, int controlId, QString& value) {
    if (pDX->Failed()) {
        return;
    }
    auto* combo = qobject_cast<QComboBox*>(pDX->PrepareEditCtrl(controlId));
    if (combo == nullptr) {
        if (!pDX->Failed()) {
            qWarning("control %d is not a combo box", controlId);
            pDX->Fail(QString());
        }
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        value = combo->currentText();
        return;
    }
    const int index = FindItemStartingWith(*combo, value);
    if (index >= 0) {
        combo->setCurrentIndex(index);
    } else if (combo->isEditable()) {
        combo->setEditText(value);
    }
}
