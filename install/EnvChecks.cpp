// Environment checks: OS version, free space, Administrators membership and the maker check (WMI).
#include "install/EnvChecks.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

namespace {

// {4590F811-1D3A-11D0-891F-00AA004B2E24}
constexpr GUID kClsidWbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
// {DC12A687-737F-11CF-884D-00AA004B2E24}
constexpr GUID kIidWbemLocator = {0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
// {0000013D-0000-0000-C000-000000000046}
constexpr GUID kIidClientSecurity = {0x0000013d, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr wchar_t kMaker[] = L"Halvo Corporation";
const HRESULT kNoAnswer = HRESULT_FROM_WIN32(ERROR_NOT_READY);

// Process-wide answer of the maker check. The flags are written by the query thread before it ends
// and read after a wait on that thread; the slot is guarded so that callers arriving together share
// one query and never use a handle that another caller is closing.
bool g_bMakerAnswered = false;
bool g_bIsMaker = false;
HANDLE g_hMakerThread = nullptr;
volatile LONG g_nQueryThreads = 0;

struct SlotLock {
  CRITICAL_SECTION cs;
  SlotLock() { InitializeCriticalSection(&cs); }
  ~SlotLock() { DeleteCriticalSection(&cs); }
  void Enter() { EnterCriticalSection(&cs); }
  void Leave() { LeaveCriticalSection(&cs); }
} g_slotLock;

HRESULT ReadManufacturer(IWbemServices* services) {
  HRESULT result;
  BSTR className = SysAllocString(L"Win32_ComputerSystem");
  IEnumWbemClassObject* instances = nullptr;
  HRESULT hr = services->CreateInstanceEnum(className, WBEM_FLAG_SHALLOW, nullptr, &instances);
  if (hr != S_OK) {
    result = hr;
  } else if (!instances) {
    result = S_FALSE;
  } else {
    IWbemClassObject* computer = nullptr;
    ULONG returned = 0;
    hr = instances->Next(static_cast<long>(WBEM_INFINITE), 1, &computer, &returned);
    if (hr != S_OK) {
      result = hr;  // an empty set reads WBEM_S_FALSE: not the maker's computer
    } else if (returned != 1 || !computer) {
      result = S_FALSE;
    } else {
      BSTR propertyName = SysAllocString(L"Manufacturer");
      VARIANT value;
      VariantInit(&value);
      hr = computer->Get(propertyName, 0, &value, nullptr, nullptr);
      if (hr != S_OK) {
        result = hr;
      } else {
        result = (value.vt == VT_BSTR && IsHalvoManufacturer(value.bstrVal)) ? S_OK : S_FALSE;
      }
      VariantClear(&value);
      SysFreeString(propertyName);
    }
    if (computer) computer->Release();
    instances->Release();
  }
  SysFreeString(className);
  return result;
}

DWORD WINAPI MakerQueryThread(LPVOID) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 0;

  IWbemLocator* locator = nullptr;
  if (CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                       reinterpret_cast<void**>(&locator)) == S_OK &&
      locator) {
    BSTR space = SysAllocString(L"\\\\.\\root\\CIMV2");
    IWbemServices* services = nullptr;
    const HRESULT hr = locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    SysFreeString(space);
    locator->Release();
    if (SUCCEEDED(hr) && services) {
      IClientSecurity* security = nullptr;
      if (SUCCEEDED(services->QueryInterface(kIidClientSecurity, reinterpret_cast<void**>(&security))) &&
          security) {
        security->SetBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        security->Release();
      }
      const HRESULT answer = ReadManufacturer(services);
      if (answer >= 0) {
        g_bIsMaker = answer == S_OK;
        g_bMakerAnswered = true;
      }
      services->Release();
    }
  }
  CoUninitialize();
  return 0;
}

}  // namespace

int OsVersionCodeFor(DWORD major, DWORD minor) {
  if (major == 5) return minor == 1 ? 0x51 : 0;
  if (major == 6) {
    if (minor == 0) return 0x60;
    if (minor == 1) return 0x61;
    return 0x62;
  }
  return major > 6 ? 0x62 : 0;
}

int GetOsVersionCode() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  // A failed query leaves the zeroed version, which maps to "not recognised".
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
  return OsVersionCodeFor(info.dwMajorVersion, info.dwMinorVersion);
}

bool GetFreeDiskSpace(const std::wstring& path, ULONGLONG& freeBytes) {
  using Fn = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto query = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExW")))
                      : nullptr;
  if (!query) return false;
  ULARGE_INTEGER available = {};
  ULARGE_INTEGER total = {};
  if (query(path.c_str(), &available, &total, nullptr) != 1) return false;
  freeBytes = available.QuadPart;
  return true;
}

int IsAdministratorsMember() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;

  int member = 0;
  TOKEN_GROUPS* groups = nullptr;
  PSID administrators = nullptr;
  DWORD size = 0;
  if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size) || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    groups = static_cast<TOKEN_GROUPS*>(LocalAlloc(LPTR, size));
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (groups && GetTokenInformation(token, TokenGroups, groups, size, &size) &&
        AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                 0, 0, &administrators)) {
      // Attributes are not looked at: a deny-only group (filtered, not elevated) still counts.
      for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, administrators)) {
          member = 1;
          break;
        }
      }
    }
  }
  CloseHandle(token);
  if (administrators) FreeSid(administrators);
  if (groups) LocalFree(groups);
  return member;
}

bool IsHalvoManufacturer(const wchar_t* value) {
  if (!value) return false;
  std::wstring trimmed(value);
  while (!trimmed.empty() && trimmed.back() == L' ') trimmed.pop_back();
  return lstrcmpW(kMaker, trimmed.c_str()) == 0;
}

HRESULT CheckHalvoComputer() {
  if (g_bMakerAnswered) return g_bIsMaker ? S_OK : S_FALSE;

  // Join a query that is already running, or start the one query and publish its handle.
  HANDLE thread = nullptr;
  g_slotLock.Enter();
  if (g_hMakerThread) {
    if (!DuplicateHandle(GetCurrentProcess(), g_hMakerThread, GetCurrentProcess(), &thread, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      thread = nullptr;
    }
  } else {
    thread = CreateThread(nullptr, 0, MakerQueryThread, nullptr, 0, nullptr);
    if (thread) {
      InterlockedIncrement(&g_nQueryThreads);
      g_hMakerThread = thread;
    }
  }
  g_slotLock.Leave();
  if (!thread) return kNoAnswer;

  const bool waited = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
  g_slotLock.Enter();
  if (g_hMakerThread == thread) g_hMakerThread = nullptr;
  g_slotLock.Leave();
  CloseHandle(thread);

  if (!waited || !g_bMakerAnswered) return kNoAnswer;
  return g_bIsMaker ? S_OK : S_FALSE;
}

int MakerQueryThreadsStarted() { return static_cast<int>(g_nQueryThreads); }

void ResetMakerCheckForTesting() {
  g_bMakerAnswered = false;
  g_bIsMaker = false;
}
