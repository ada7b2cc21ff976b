#pragma once

#include <QString>
#include <vector>

#include "framework/bcgp_dialog.h"
#include "run/serial_port_list.h"
#include "widgets/lum_static.h"
#include "widgets/vex_button.h"

// The port and baud rate chosen at every start. Opens on "com1" (which selects
// "COM1") and "9600"; after OK the caller reads m_strPort and m_strBaudrate. The
// port box lists COM1 ... COM10, then this machine's serial devices, then the
// simulator, and takes any typed device path as well.
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
    CLumStatic m_stcPort;
    CLumStatic m_stcBaudrate;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // The serial devices offered after the COM items; the machine's own by default.
    virtual std::vector<PortListEntry> DetectDevices() const;

  private:
    void PreparePortList();
};
