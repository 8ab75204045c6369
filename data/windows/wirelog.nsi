; SPDX-License-Identifier: MIT
; The Windows installer: the window, the command line, the adapter library, README and LICENSE,
; for the user who runs it (no elevation, like the programs). The Start-menu shortcut starts the
; window in a folder of the user's own, since the window writes its adapter library into its
; working folder. makensis gets the files' paths and the version with -D (see
; cmake/WindowsInstaller.cmake).
; A 64-bit installer for the 64-bit programs; it runs where they run.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Wirelog"

Name "Wirelog ${VERSION}"
OutFile "${OUTPUT}"
InstallDir "$LOCALAPPDATA\Programs\Wirelog"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
Icon "${ICON}"
UninstallIcon "${ICON}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Wirelog"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "/oname=wirelog.exe" "${WIRELOG_EXE}"
    File "/oname=wirelog-cli.exe" "${WIRELOG_CLI_EXE}"
    File "/oname=wirlg000.dll" "${ADAPTER_DLL}"
    File "/oname=README.md" "${README}"
    File "/oname=LICENSE.txt" "${LICENSE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The working folder: the user's, never the program folder.
    CreateDirectory "$DOCUMENTS\Wirelog"
    SetOutPath "$DOCUMENTS\Wirelog"
    CreateDirectory "$SMPROGRAMS\Wirelog"
    CreateShortcut "$SMPROGRAMS\Wirelog\Wirelog.lnk" "$INSTDIR\wirelog.exe" "" \
        "$INSTDIR\wirelog.exe" 0
    SetOutPath "$INSTDIR"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Wirelog"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Wirelog"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\wirelog.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$INSTDIR\wirelog.exe"
    Delete "$INSTDIR\wirelog-cli.exe"
    Delete "$INSTDIR\wirlg000.dll"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    Delete "$SMPROGRAMS\Wirelog\Wirelog.lnk"
    RMDir "$SMPROGRAMS\Wirelog"
    ; The library the window wrote; the user's saved logs stay, and with them the folder.
    Delete "$DOCUMENTS\Wirelog\wirlg000.dll"
    RMDir "$DOCUMENTS\Wirelog"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; Last, so that its absence tells that the uninstaller is done.
    RMDir "$INSTDIR"
SectionEnd
