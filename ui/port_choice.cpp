#include "ui/port_choice.h"

#include "framework/text_to_int.h"
#include "ui/port_setting_dlg.h"

std::optional<PortChoice> ChoosePort(const std::function<std::string()>& startSimulator) {
    CPortSettingDlg dialog;
    if (dialog.DoModal() != IDOK) {
        return std::nullopt;
    }
    PortChoice choice;
    choice.portName = dialog.m_strPort.toStdString();
    if (dialog.m_strPort == kSimulatorPortItem && startSimulator) {
        choice.portName = startSimulator();
    }
    choice.baud = LeadingIntLikeAtol(dialog.m_strBaudrate);
    return choice;
}
