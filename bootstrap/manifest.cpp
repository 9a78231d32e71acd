#include "bootstrap/manifest.h"

const char* const kStagingDirectories[kStagingDirectoryCount] = {"Config", "Init", "Extra",
                                                                 "English"};

const char* const kManifest[kManifestRowCount] = {
    "Init\\Cfgmgr32.dll",   // operating-system library
    "Init\\Arrows.dll",     //
    "Init\\media.inf",      //
    "Init\\Lexor2.dll",     //
    "Init\\Lexor2r.dll",    //
    "Init\\Journal.ini",    //
    "Init\\Msvcirt.dll",    // runtime library
    "Init\\Msvcrt.dll",     // runtime library
    "Init\\Wizard.pnl",     //
    "Init\\Setupapi.dll",   // operating-system library
    "Init\\_zorp.exe",      // the installer, which the launcher runs
    "Init\\_zorp.ex_",      // the launcher, which setup starts from the staging root
    "Init\\Seedbank",       // no extension
    "Init\\Clock",          // no extension
    "Init\\Panelkit2.dll",  //
    "Init\\Ft0042k_.ttf",   // a font
    "Init\\Remover.exe",    //
    "Config\\Qcore.cfg",    //
    "Extra\\dplay50a.exe",  // redistributable package
    "Extra\\dx6core.exe",   // redistributable package
    "Extra\\dx6eng.exe",    // redistributable package
};
