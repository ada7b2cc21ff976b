#include "ui/port_choice.h"

#include <QDir>
#include <QSettings>

#include "framework/text_to_int.h"
#include "ui/port_setting_dlg.h"

std::optional<PortChoice> ChoosePort(const std::function<std::string()>& startSimulator) {
    CPortSettingDlg dialog;
    // The port and rate used last are offered first.
    QSettings settings(ConfigurationPath(), QSettings::IniFormat);
    dialog.m_strPort = settings.value(QStringLiteral("port/name"), dialog.m_strPort).toString();
    dialog.m_strBaudrate =
        settings.value(QStringLiteral("port/baud"), dialog.m_strBaudrate).toString();
    if (dialog.DoModal() != IDOK) {
        return std::nullopt;
    }
    settings.setValue(QStringLiteral("port/name"), dialog.m_strPort);
    settings.setValue(QStringLiteral("port/baud"), dialog.m_strBaudrate);
    settings.sync();
    PortChoice choice;
    choice.portName = dialog.m_strPort.toStdString();
    // Typed in any case, it is the simulator, as on the command line.
    if (dialog.m_strPort.trimmed().compare(kSimulatorPortItem, Qt::CaseInsensitive) == 0 &&
        startSimulator) {
        choice.portName = startSimulator();
    }
    choice.baud = LeadingIntLikeAtol(dialog.m_strBaudrate);
    return choice;
}
