#include "service/install.h"

#include <windows.h>

#include <cstring>

#include "entry/console_output.h"
#include "entry/names.h"
#include "entry/reporting.h"
#include "jvmhost/process_end.h"
#include "launch/registry_value.h"
#include "launch/stored_options.h"
#include "service/event_source.h"
#include "service/system_error_text.h"

namespace {

constexpr DWORD kPathBufferSize = 512;
constexpr DWORD kStopPollMs = 1000;
// An empty list of dependencies: an empty, doubly terminated string.
constexpr char kNoDependencies[] = "\0";

// The headers declare the preshutdown setting only for Windows Vista and later.
#ifndef SERVICE_CONFIG_PRESHUTDOWN_INFO
#define SERVICE_CONFIG_PRESHUTDOWN_INFO 7
#endif
struct PreshutdownInfo {  // SERVICE_PRESHUTDOWN_INFO
  DWORD dwPreshutdownTimeout;
};

// Closes a service control manager or service handle when it goes out of scope.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) {
      CloseServiceHandle(handle_);
    }
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

}  // namespace

void InstallService(int argc, char** argv) {
  char path[kPathBufferSize];
  const DWORD length = GetModuleFileNameA(nullptr, path, kPathBufferSize);
  // A path cut to the buffer would register some other program.
  if (length == 0 || length >= kPathBufferSize) {
    ConsolePrint("ERROR : GetModuleFileName\n");
    return;
  }
  // Quoted: an unquoted path with a blank makes the service manager try each
  // prefix ("C:\Program.exe" for "C:\Program Files\...") as the program.
  OwnedString quoted_path = FormatString("\"%s\"", path);
  OwnedString options = JoinArguments(2, argc, argv);
  if (!quoted_path || !options) {
    ConsolePrint("Out of Memory!\n");
    return;
  }
  // Checked before anything is created: the service could not read more.
  const std::size_t options_length = std::strlen(options.get());
  if (options_length >= kOptionsBufferSize) {
    ConsolePrint("Options too long: at most %u characters.\n", static_cast<unsigned>(kOptionsBufferSize - 1));
    return;
  }

  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) {
    ConsolePrint("ERROR : OpenSCManager : %s\n", SystemErrorText());
    return;
  }
  {
    ScHandle service(CreateServiceA(manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    quoted_path.get(), nullptr, nullptr, kNoDependencies, nullptr, nullptr));
    if (service.get() == nullptr) {
      ConsolePrint("ERROR : CreateService : %s\n", SystemErrorText());
      return;
    }
    // Shown in the list of services. Cosmetic: a failure goes unsaid.
    char description[] = "Runs the Ostrel Java server.";
    SERVICE_DESCRIPTIONA config = {description};
    ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &config);
    ConsolePrint("%s is installed.\n", kDisplayName);
    // At a restart or a shutdown Windows waits this long for the service once
    // it has sent the preshutdown control: the application's end in full, as
    // at a stop. Without it the service gets the system's default (10 s on
    // current Windows). The service runs all the same.
    if (SystemHasPreshutdown()) {
      PreshutdownInfo preshutdown = {kServiceEndBound};
      if (!ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown)) {
        ConsolePrint("Could not set the time the service gets at a shutdown.\n");
      }
    }
  }
  if (CreateParametersKey(HKEY_LOCAL_MACHINE, kParametersKey) != 0) {
    ConsolePrint("Could not create Parameters subkey.\n");
    return;
  }
  if (!StoreStringValue(options.get(), static_cast<DWORD>(options_length + 1), HKEY_LOCAL_MACHINE, kParametersKey,
                        kOptionsValueName)) {
    ConsolePrint("Could not write options in registry.\n");
    return;
  }
  // Gives the service's events their text in the event viewer; the service
  // itself is complete without it.
  if (!RegisterEventMessageFile(path)) {
    ConsolePrint("Could not register the event source.\n");
  }
}

void RemoveService() {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) {
    ConsolePrint("ERROR : OpenSCManager : %s\n", SystemErrorText());
    return;
  }
  ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (service.get() == nullptr) {
    ConsolePrint("ERROR : OpenService : %s\n", SystemErrorText());
    return;
  }
  SERVICE_STATUS* status = ServiceStatusRecord();
  // A service that does not run refuses the stop control: removal goes on quietly.
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, status)) {
    ConsolePrint("Stopping %s .", kDisplayName);
    for (;;) {
      Sleep(kStopPollMs);
      if (!QueryServiceStatus(service.get(), status) || status->dwCurrentState != SERVICE_STOP_PENDING) {
        break;
      }
      ConsolePrint(".");
    }
    if (status->dwCurrentState == SERVICE_STOPPED) {
      ConsolePrint("\n%s is stopped.\n", kDisplayName);
    } else {
      ConsolePrint("\nFailed to stop.\n");
    }
  }
  if (!DeleteService(service.get())) {
    ConsolePrint("ERROR : DeleteService : %s\n", SystemErrorText());
    return;
  }
  ConsolePrint("%s is removed.\n", kDisplayName);
  if (!UnregisterEventMessageFile()) {
    ConsolePrint("Could not remove the event source.\n");
  }
}
