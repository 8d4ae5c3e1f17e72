/* The system's ANSI code page, past the manifest's UTF-8. */
#include "windows/system_code_page.h"

#include <windows.h>
#include <wchar.h>

unsigned system_ansi_code_page(void)
{
    wchar_t value[16] = L"";
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Nls\\CodePage", L"ACP", RRF_RT_REG_SZ,
                     NULL, value, &size) == ERROR_SUCCESS) {
        unsigned long code_page = wcstoul(value, NULL, 10);
        if (code_page != 0)
            return (unsigned)code_page;
    }
    /* The value the system locale gives it. */
    DWORD locale_code_page = 0;
    if (GetLocaleInfoEx(LOCALE_NAME_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        (LPWSTR)&locale_code_page, sizeof locale_code_page / sizeof(wchar_t)) != 0 &&
        locale_code_page != 0)
        return locale_code_page;
    return 1252;
}
