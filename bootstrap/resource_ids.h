// Resource identifiers of setup, shared by the code and setup.rc (plain defines, because the
// resource compiler reads only the preprocessor).
#pragma once

#define IDI_SETUP 102          // icon group: the application icon
#define IDD_PROGRESS 103       // the modeless progress dialog
#define IDC_PROGRESS_BAR 1000  // its "msctls_progress32" control
