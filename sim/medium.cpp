#include "sim/medium.h"

namespace sim {

const char* const kMediumRows[21] = {
    "Init\\Cfgmgr32.dll", "Init\\Arrows.dll",   "Init\\media.inf",     "Init\\Lexor2.dll",
    "Init\\Lexor2r.dll",  "Init\\Journal.ini",  "Init\\Msvcirt.dll",   "Init\\Msvcrt.dll",
    "Init\\Wizard.pnl",   "Init\\Setupapi.dll", "Init\\_zorp.exe",     "Init\\_zorp.ex_",
    "Init\\Seedbank",     "Init\\Clock",        "Init\\Panelkit2.dll", "Init\\Ft0042k_.ttf",
    "Init\\Remover.exe",  "Config\\Qcore.cfg",  "Extra\\dplay50a.exe", "Extra\\dx6core.exe",
    "Extra\\dx6eng.exe",
};
const char* const kMediumDirectories[4] = {"Config", "Init", "Extra", "English"};

bool MakeStagingDirectory(const std::string& directory, const std::string& user) {
    Dacl dacl;
    dacl.isProtected = true;
    for (const std::string& sid :
         {std::string(kSystemSid), std::string(kAdministratorsSid), user}) {
        Ace entry;
        entry.sid = sid;
        entry.mask = 0x1F01FF;  // full control
        entry.flags = 0x3;      // inherited by files and folders
        dacl.entries.push_back(entry);
    }
    return MakeDirectories(directory) && SetDacl(directory, dacl);
}

}  // namespace sim
