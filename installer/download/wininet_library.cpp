/* WinINet, loaded on demand from the system folder only. */
#include "download/wininet_library.h"

#include "windows/system_library.h"

int wininet_load(wininet_library *library)
{
    library->module = load_system_library("wininet.dll");
    if (!library->module)
        return 1;
    if (resolve(library->module, "InternetOpenA", &library->open) &&
        resolve(library->module, "InternetOpenUrlA", &library->open_url) &&
        resolve(library->module, "InternetReadFile", &library->read_file) &&
        resolve(library->module, "InternetSetOptionA", &library->set_option) &&
        resolve(library->module, "InternetQueryOptionA", &library->query_option) &&
        resolve(library->module, "HttpQueryInfoA", &library->query_info) &&
        resolve(library->module, "InternetCloseHandle", &library->close_handle) &&
        resolve(library->module, "InternetQueryDataAvailable", &library->query_data_available))
        return 0;
    wininet_unload(library);
    return 1;
}

void wininet_unload(wininet_library *library)
{
    FreeLibrary(library->module);
    library->module = NULL;
}
