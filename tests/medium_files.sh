# The manifest's files below the medium root, in the spelling the bootstrap uses: the tests'
# own copy of setup's table, so that a change to either shows as a failing test.
MEDIUM_FILES="Init/Cfgmgr32.dll Init/Arrows.dll Init/media.inf Init/Lexor2.dll Init/Lexor2r.dll
Init/Journal.ini Init/Msvcirt.dll Init/Msvcrt.dll Init/Wizard.pnl Init/Setupapi.dll
Init/_zorp.exe Init/_zorp.ex_ Init/Seedbank Init/Clock Init/Panelkit2.dll Init/Ft0042k_.ttf
Init/Remover.exe Config/Qcore.cfg Extra/dplay50a.exe Extra/dx6core.exe Extra/dx6eng.exe"
