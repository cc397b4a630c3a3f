// What the engine reads of the user's settings: the alert message templates (filled in
// when an alert fires) and the e-mail report's schedule and SMTP account. The application
// implements ISettingsSource over its settings object; engine tests pass a fake. Getters
// return copies, so any thread may call them while the user interface changes the
// settings.
#pragma once

#include <string>

namespace engine {

// The texts of an alert's subject and message, with the placeholders %ALERT_TIME%,
// %MONITOR_NAME%, %SERVER_NAME%, %ATTRIBUTE_NAME%, %ATTRIBUTE_TYPE%, %ATTRIBUTE_VALUE%,
// %ERROR_DESCRIPTION% and %ERROR_NUMBER%. The members start with the program's defaults.
struct AlertMessageTemplate {
  std::string title = "%ALERT_TIME% %ATTRIBUTE_TYPE% %ATTRIBUTE_NAME% On %MONITOR_NAME%";
  std::string message =
      "%ALERT_TIME%\r\n%ATTRIBUTE_NAME% On %MONITOR_NAME%(%SERVER_NAME%): %ATTRIBUTE_TYPE%\r\n\r\n"
      "%ATTRIBUTE_NAME% = %ATTRIBUTE_VALUE%\r\n\r\n%ERROR_DESCRIPTION% %ERROR_NUMBER%";

  bool operator==(const AlertMessageTemplate&) const = default;
};

// The periodic e-mail report: its schedule and the SMTP account it is sent through.
// Texts are UTF-8. The members start with the program's defaults. Values come from the
// user's settings file unchecked: a mode outside 0 to 3 or a port outside 1 to 65535 is
// possible and is the reader's to handle.
struct MailSettings {
  int mode = 0;  // 0 never, 1 daily, 2 weekly, 3 monthly
  std::string server;
  int port = 25;
  int auth = 0;  // not 0: log in with userName and password
  std::string userName;
  std::string password;
  std::string fromAddress;
  std::string toAddress;

  bool operator==(const MailSettings&) const = default;
};

class ISettingsSource {
 public:
  virtual ~ISettingsSource() = default;

  // Snapshots of the current values.
  virtual AlertMessageTemplate GetAlertTemplate() const = 0;
  virtual MailSettings GetMail() const = 0;
};

}  // namespace engine
