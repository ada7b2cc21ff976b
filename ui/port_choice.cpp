#include "ui/port_choice.h"

#include "framework/text_to_int.h"
#include "link/serial_channel.h"
#include "ui/port_setting_dlg.h"

int ChoosePort(CSerialChannel& channel, const std::function<std::string()>& startSimulator) {
    CPortSettingDlg dialog;
    const int result = dialog.DoModal();
    if (result != IDOK) {
        return result;
    }
    std::string portName = dialog.m_strPort.toStdString();
    if (dialog.m_strPort == kSimulatorPortItem && startSimulator) {
        portName = startSimulator();
    }
    channel.SetPortName(portName);
    channel.SetBaudRate(LeadingIntLikeAtol(dialog.m_strBaudrate));
    return result;
}
