// scmclient: the end-to-end tests' own window on the service control manager
// and the registry. Each command prints one machine-readable line per result:
// TAB-separated key=value fields, the first always error=<code> (0: success).
// Text values are escaped (\\, \t, \n, \r, and every byte outside 0x20..0x7E
// as \xNN), so a value shows exactly the bytes the system gave.
//
//   scmclient query <service>                  status of the service
//   scmclient start <service>                  StartService
//   scmclient control <service> <name>...      stop / interrogate / stop-asap (a
//                                              stop sent again while refused as
//                                              not accepted, for up to 15 s);
//                                              several names are sent at once,
//                                              one thread each
//   scmclient wait <service> <state> <ms>      polls until the state (1..7)
//   scmclient config <service>                 QueryServiceConfig
//   scmclient preshutdown <service>            QueryServiceConfig2's preshutdown
//                                              timeout (ms)
//   scmclient delete <service>                 DeleteService
//   scmclient regkey <HKLM subkey>             the key's class
//   scmclient regvalue <HKLM subkey> <name>    type and data (hex) of a value
//   scmclient setvalue <HKLM subkey> <name> <type> <hex data, - for none>
//   scmclient deletekey <HKLM subkey>...       RegDeleteKey, in order
//   scmclient lockkey <HKLM subkey>            creates the key with a DACL that
//                                              lets everyone read and delete it,
//                                              but not set values or add subkeys
//   scmclient errtext <code>                   FormatMessage's text for a code
//   scmclient message <file> <id> <insert>...  FormatMessage's text for a message
//                                              of that file's message table
//   scmclient version <file>                   its version information, as
//                                              GetFileVersionInfo/VerQueryValue
//                                              give it: the fixed part, the first
//                                              translation and its strings
//   scmclient resource <file> <type> <id>      a resource's data (hex), numbered
//                                              type and id (24 1: the manifest)
//   scmclient hold <path> [write]              opens the file so that nobody can
//                                              rename or delete it (state=held),
//                                              until standard input ends
//                                              (state=released)
//   scmclient deletefile <path>                DeleteFile: refused while a
//                                              reader does not share deletion
//   scmclient sleep                            sleeps for ever (keeps Wine's
//                                              services alive)
//   scmclient                                  the decoy: leaves <own path>.ran
//                                              and ends (code 3)
//
// Exit code: 0 when every result has error=0 (wait: the state was reached),
// 1 otherwise, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Escape(const char* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c > 0x7E) {
          char hex[5];
          std::snprintf(hex, sizeof(hex), "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string Escape(const char* text) { return text ? Escape(text, std::strlen(text)) : "(null)"; }

std::string Hex(const BYTE* data, DWORD size) {
  std::string out;
  for (DWORD i = 0; i < size; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof(hex), "%02x", data[i]);
    out += hex;
  }
  return out;
}

std::string Field(const char* key, unsigned long value) { return std::string("\t") + key + "=" + std::to_string(value); }

std::string Field(const char* key, const std::string& value) { return std::string("\t") + key + "=" + value; }

// Prints one result line; returns the exit code it stands for.
int Print(DWORD error, const std::string& fields = std::string()) {
  std::printf("error=%lu%s\n", static_cast<unsigned long>(error), fields.c_str());
  std::fflush(stdout);
  return error == 0 ? 0 : 1;
}

std::string StatusFields(const SERVICE_STATUS_PROCESS& s) {
  return Field("state", s.dwCurrentState) + Field("accepted", s.dwControlsAccepted) +
         Field("exit", s.dwWin32ExitCode) + Field("specific", s.dwServiceSpecificExitCode) +
         Field("checkpoint", s.dwCheckPoint) + Field("wait", s.dwWaitHint) + Field("pid", s.dwProcessId);
}

std::string StatusFields(const SERVICE_STATUS& s) {
  return Field("state", s.dwCurrentState) + Field("accepted", s.dwControlsAccepted) +
         Field("exit", s.dwWin32ExitCode) + Field("specific", s.dwServiceSpecificExitCode) +
         Field("checkpoint", s.dwCheckPoint) + Field("wait", s.dwWaitHint);
}

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

// Opens the service; on failure prints the error line and returns null.
SC_HANDLE OpenNamedService(const char* name, int* exit_code) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    *exit_code = Print(GetLastError());
    return nullptr;
  }
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  const DWORD error = GetLastError();
  CloseServiceHandle(manager);
  if (!service) *exit_code = Print(error);
  return service;
}

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* status, DWORD* error) {
  DWORD needed = 0;
  if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof(*status),
                           &needed)) {
    *error = 0;
    return true;
  }
  *error = GetLastError();
  return false;
}

int CmdQuery(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD error = 0;
  return Query(service, &status, &error) ? Print(0, StatusFields(status)) : Print(error);
}

int CmdStart(SC_HANDLE service) { return Print(StartServiceA(service, 0, nullptr) ? 0 : GetLastError()); }

constexpr DWORD kRetryMs = 15000;

struct ControlRequest {
  SC_HANDLE service;
  DWORD control;
  bool retry;
  HANDLE go;
  DWORD error;
  SERVICE_STATUS status;
};

DWORD WINAPI SendControl(void* param) {
  auto* request = static_cast<ControlRequest*>(param);
  if (request->go) WaitForSingleObject(request->go, INFINITE);
  const DWORD start = GetTickCount();
  for (;;) {
    request->error = ControlService(request->service, request->control, &request->status) ? 0 : GetLastError();
    if (!request->retry || request->error != ERROR_INVALID_SERVICE_CONTROL || GetTickCount() - start >= kRetryMs) {
      return 0;
    }
    Sleep(1);
  }
}

int CmdControl(SC_HANDLE service, int count, char** names) {
  std::vector<ControlRequest> requests(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    ControlRequest& r = requests[static_cast<std::size_t>(i)];
    r = ControlRequest{service, 0, false, nullptr, 0, {}};
    if (std::strcmp(names[i], "stop") == 0) {
      r.control = SERVICE_CONTROL_STOP;
    } else if (std::strcmp(names[i], "stop-asap") == 0) {
      r.control = SERVICE_CONTROL_STOP;
      r.retry = true;
    } else if (std::strcmp(names[i], "interrogate") == 0) {
      r.control = SERVICE_CONTROL_INTERROGATE;
    } else {
      std::fprintf(stderr, "unknown control %s\n", names[i]);
      return 2;
    }
  }
  if (count == 1) {
    SendControl(&requests[0]);
  } else {
    // All threads wait on one event, so the controls leave together.
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> threads;
    for (ControlRequest& r : requests) {
      r.go = go;
      threads.push_back(CreateThread(nullptr, 0, SendControl, &r, 0, nullptr));
    }
    SetEvent(go);
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE h : threads) CloseHandle(h);
    CloseHandle(go);
  }
  int exit_code = 0;
  for (const ControlRequest& r : requests) {
    if (Print(r.error, r.error == 0 ? StatusFields(r.status) : std::string()) != 0) exit_code = 1;
  }
  return exit_code;
}

int CmdWait(SC_HANDLE service, const char* state_text, const char* timeout_text) {
  const DWORD state = std::strtoul(state_text, nullptr, 10);
  const DWORD deadline = GetTickCount() + std::strtoul(timeout_text, nullptr, 10);
  SERVICE_STATUS_PROCESS status = {};
  DWORD error = 0;
  for (;;) {
    if (!Query(service, &status, &error)) return Print(error);
    if (status.dwCurrentState == state) return Print(0, StatusFields(status));
    if (static_cast<LONG>(GetTickCount() - deadline) >= 0) {
      Print(0, StatusFields(status) + Field("timeout", 1));
      return 1;
    }
    Sleep(20);
  }
}

// A multi-string as its raw bytes up to the closing empty string.
std::string MultiString(const char* list) {
  if (!list) return "(null)";
  const char* end = list;
  while (*end) end += std::strlen(end) + 1;
  return Escape(list, static_cast<std::size_t>(end - list));
}

int CmdConfig(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigA(service, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed ? needed : 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service, config, needed, &needed)) return Print(GetLastError());
  return Print(0, Field("path", Escape(config->lpBinaryPathName)) + Field("type", config->dwServiceType) +
                      Field("start", config->dwStartType) + Field("errorcontrol", config->dwErrorControl) +
                      Field("group", Escape(config->lpLoadOrderGroup)) + Field("tag", config->dwTagId) +
                      Field("dependencies", MultiString(config->lpDependencies)) +
                      Field("account", Escape(config->lpServiceStartName)) +
                      Field("display", Escape(config->lpDisplayName)));
}

// SERVICE_PRESHUTDOWN_INFO, which the headers declare only for Vista and later.
int CmdPreshutdown(SC_HANDLE service) {
  constexpr DWORD kPreshutdownInfo = 7;  // SERVICE_CONFIG_PRESHUTDOWN_INFO
  DWORD timeout = 0;
  DWORD needed = 0;
  if (!QueryServiceConfig2A(service, kPreshutdownInfo, reinterpret_cast<BYTE*>(&timeout), sizeof(timeout), &needed)) {
    return Print(GetLastError());
  }
  return Print(0, Field("timeout", timeout));
}

int CmdDelete(SC_HANDLE service) { return Print(DeleteService(service) ? 0 : GetLastError()); }

int CmdRegKey(const char* sub_key) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub_key, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return Print(static_cast<DWORD>(status));
  char key_class[256] = {};
  DWORD class_size = sizeof(key_class);
  status = RegQueryInfoKeyA(key, key_class, &class_size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return Print(static_cast<DWORD>(status));
  return Print(0, Field("class", Escape(key_class, class_size)));
}

int CmdRegValue(const char* sub_key, const char* name) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub_key, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return Print(static_cast<DWORD>(status));
  DWORD type = 0;
  DWORD size = 0;
  status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size + 1);
  if (status == ERROR_SUCCESS) status = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return Print(static_cast<DWORD>(status));
  return Print(0, Field("type", type) + Field("data", Hex(data.data(), size)));
}

int CmdSetValue(const char* sub_key, const char* name, const char* type_text, const char* hex) {
  std::vector<BYTE> data;
  for (const char* p = hex; p[0] && p[1]; p += 2) {
    const char pair[3] = {p[0], p[1], '\0'};
    data.push_back(static_cast<BYTE>(std::strtoul(pair, nullptr, 16)));
  }
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return Print(static_cast<DWORD>(status));
  status = RegSetValueExA(key, name, 0, std::strtoul(type_text, nullptr, 10), data.data(),
                          static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return Print(static_cast<DWORD>(status));
}

int CmdErrText(const char* code_text) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      std::strtoul(code_text, nullptr, 0), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0) return Print(GetLastError());
  const std::string escaped = Escape(text, length);
  LocalFree(text);
  return Print(0, Field("text", escaped));
}

// What a plain LoadLibraryA makes of a library: the standard search, for its
// imports too.
int CmdLoadLibrary(const char* path) {
  HMODULE module = LoadLibraryA(path);
  return Print(module != nullptr ? 0 : GetLastError());
}

int CmdDeleteKeys(int count, char** sub_keys) {
  int exit_code = 0;
  for (int i = 0; i < count; ++i) {
    if (Print(static_cast<DWORD>(RegDeleteKeyA(HKEY_LOCAL_MACHINE, sub_keys[i]))) != 0) exit_code = 1;
  }
  return exit_code;
}

int CmdLockKey(const char* sub_key) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return Print(static_cast<DWORD>(status));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  alignas(ACL) BYTE acl_buffer[256];
  auto* acl = reinterpret_cast<ACL*>(acl_buffer);
  SECURITY_DESCRIPTOR descriptor;
  const bool built = InitializeAcl(acl, sizeof(acl_buffer), ACL_REVISION) &&
                     AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC | DELETE, everyone) &&
                     InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                     SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  status = built ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) : static_cast<LONG>(GetLastError());
  FreeSid(everyone);
  RegCloseKey(key);
  return Print(static_cast<DWORD>(status));
}

// As the event viewer reads a message: from the file loaded as data only, so
// that a 32-bit file serves as well, with the inserts as an argument array.
int CmdMessage(const char* file, const char* id_text, int count, char** inserts) {
  HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return Print(GetLastError());
  std::vector<DWORD_PTR> arguments(static_cast<std::size_t>(count) + 1);
  for (int i = 0; i < count; ++i) arguments[static_cast<std::size_t>(i)] = reinterpret_cast<DWORD_PTR>(inserts[i]);
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
      std::strtoul(id_text, nullptr, 0), 0, reinterpret_cast<LPSTR>(&text), 0,
      reinterpret_cast<va_list*>(arguments.data()));
  const DWORD error = GetLastError();
  FreeLibrary(module);
  if (length == 0) return Print(error);
  const std::string escaped = Escape(text, length);
  LocalFree(text);
  return Print(0, Field("text", escaped));
}

std::string Dotted(DWORD most, DWORD least) {
  return std::to_string(HIWORD(most)) + "." + std::to_string(LOWORD(most)) + "." + std::to_string(HIWORD(least)) +
         "." + std::to_string(LOWORD(least));
}

int CmdVersion(const char* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  if (size == 0) return Print(GetLastError());
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoA(file, 0, size, data.data())) return Print(GetLastError());
  VS_FIXEDFILEINFO* fixed = nullptr;
  WORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      !VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < 2 * sizeof(WORD)) {
    return Print(ERROR_RESOURCE_TYPE_NOT_FOUND);
  }
  char block[9];
  std::snprintf(block, sizeof(block), "%04x%04x", translation[0], translation[1]);
  std::string fields = Field("fileversion", Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS)) +
                       Field("productversion", Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS)) +
                       Field("flags", fixed->dwFileFlags & fixed->dwFileFlagsMask) + Field("os", fixed->dwFileOS) +
                       Field("type", fixed->dwFileType) + Field("translation", block);
  // Every name a version resource commonly carries; only those present are printed.
  const char* const names[] = {"Comments",       "CompanyName",      "FileDescription",  "FileVersion",
                               "InternalName",   "LegalCopyright",   "LegalTrademarks",  "OriginalFilename",
                               "PrivateBuild",   "ProductName",      "ProductVersion",   "SpecialBuild"};
  for (const char* name : names) {
    const std::string path = std::string("\\StringFileInfo\\") + block + "\\" + name;
    char* value = nullptr;
    if (VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value) {
      fields += Field(name, Escape(value));
    }
  }
  return Print(0, fields);
}

int CmdResource(const char* file, const char* type_text, const char* id_text) {
  HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return Print(GetLastError());
  const auto number = [](const char* text) { return MAKEINTRESOURCEA(std::strtoul(text, nullptr, 10)); };
  HRSRC found = FindResourceA(module, number(id_text), number(type_text));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const DWORD error = GetLastError();
  const std::string data = loaded ? Hex(static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found))
                                  : std::string();
  FreeLibrary(module);
  return loaded ? Print(0, Field("data", data)) : Print(error);
}

// A reader that shares the file for reading and writing but not for deletion,
// as an editor or a virus scanner holds a log: a rename of it fails meanwhile.
// With "write", it opens the file for writing too, as some editors do.
int CmdHold(const char* path, bool write) {
  HANDLE file = CreateFileA(path, GENERIC_READ | (write ? GENERIC_WRITE : 0), FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Print(GetLastError());
  Print(0, Field("state", std::string("held")));
  while (std::getchar() != EOF) continue;
  CloseHandle(file);
  return Print(0, Field("state", std::string("released")));
}

int CmdDeleteFile(const char* path) { return Print(DeleteFileA(path) ? 0 : GetLastError()); }

// Run without arguments, as the service manager runs a program it was told to
// start, the decoy only shows that it ran.
int Decoy() {
  char path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 3;
  std::strcat(path, ".ran");
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 3;
}

int Usage() {
  std::fprintf(stderr, "usage: scmclient query|start|config|preshutdown|delete <service> | control <service> <name>... |"
                       " wait <service> <state> <ms> | regkey <key> | regvalue <key> <name> |"
                       " setvalue <key> <name> <type> <hex> | deletekey <key>... | lockkey <key> | errtext <code> |"
                       " message <file> <id> <insert>... | version <file> | resource <file> <type> <id> |"
                       " loadlib <path> | hold <path> [write] | deletefile <path> | sleep\n");
  return 2;
}

int ServiceCommand(const std::string& command, int argc, char** argv) {
  int exit_code = 1;
  ScHandle service(OpenNamedService(argv[2], &exit_code));
  if (!service.get()) return exit_code;
  if (command == "query" && argc == 3) return CmdQuery(service.get());
  if (command == "start" && argc == 3) return CmdStart(service.get());
  if (command == "config" && argc == 3) return CmdConfig(service.get());
  if (command == "preshutdown" && argc == 3) return CmdPreshutdown(service.get());
  if (command == "delete" && argc == 3) return CmdDelete(service.get());
  if (command == "control" && argc >= 4) return CmdControl(service.get(), argc - 3, argv + 3);
  if (command == "wait" && argc == 5) return CmdWait(service.get(), argv[3], argv[4]);
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Decoy();
  const std::string command = argv[1];
  if (command == "sleep" && argc == 2) {
    Sleep(INFINITE);
    return 0;
  }
  if (command == "errtext" && argc == 3) return CmdErrText(argv[2]);
  if (command == "loadlib" && argc == 3) return CmdLoadLibrary(argv[2]);
  if (command == "hold" && (argc == 3 || (argc == 4 && std::string(argv[3]) == "write")))
    return CmdHold(argv[2], argc == 4);
  if (command == "deletefile" && argc == 3) return CmdDeleteFile(argv[2]);
  if (command == "regkey" && argc == 3) return CmdRegKey(argv[2]);
  if (command == "regvalue" && argc == 4) return CmdRegValue(argv[2], argv[3]);
  if (command == "setvalue" && argc == 6) return CmdSetValue(argv[2], argv[3], argv[4], argv[5]);
  if (command == "deletekey" && argc >= 3) return CmdDeleteKeys(argc - 2, argv + 2);
  if (command == "lockkey" && argc == 3) return CmdLockKey(argv[2]);
  if (command == "message" && argc >= 4) return CmdMessage(argv[2], argv[3], argc - 4, argv + 4);
  if (command == "version" && argc == 3) return CmdVersion(argv[2]);
  if (command == "resource" && argc == 5) return CmdResource(argv[2], argv[3], argv[4]);
  const char* const service_commands[] = {"query", "start", "config", "preshutdown", "delete", "control", "wait"};
  for (const char* name : service_commands) {
    if (command == name && argc >= 3) return ServiceCommand(command, argc, argv);
  }
  return Usage();
}
