#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "framework/bcgp_dialog.h"
#include "run/serial_port_list.h"
#include "widgets/lum_static.h"
#include "widgets/vex_button.h"

// The port and baud rate chosen at every start. Opens on "com1" (which selects
// "COM1") and "9600"; after OK the caller reads m_strPort and m_strBaudrate. The
// port box lists COM1 ... COM10, then this machine's serial devices, then the
// simulator, and takes any typed device path as well.
// The description a COM item shows: the device it opens, and whether that exists.
QString ComItemDescription(const QString& devicePath, bool present);

class CPortSettingDlg : public CBCGPDialog {
    Q_OBJECT
  public:
    explicit CPortSettingDlg(QWidget* parent = nullptr);
    ~CPortSettingDlg() override;

    bool OnInitDialog() override;

    CVexButton m_btnOK;
    CVexButton m_btnCancel;
    QString m_strPort = QStringLiteral("com1");
    QString m_strBaudrate = QStringLiteral("9600");
    // Asked before OK takes a listed port whose device does not exist; true goes ahead.
    // Unset, a question box asks.
    std::function<bool(const QString& port)> m_confirmMissing;
    CLumStatic m_stcPort;
    CLumStatic m_stcBaudrate;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    // The serial devices offered after the COM items; the machine's own by default.
    virtual std::vector<PortListEntry> DetectDevices() const;

  private:
    void PreparePortList();
};
