; The Windows installer (makensis, see scripts/windows/package.sh). Defines from the command line:
;   VERSION     3.2          VERSION4   3.2.0.0
;   STAGE       the folder with glimmerly.exe and its DLLs
;   FILES       an include with one Delete/RMDir line per staged file and folder (uninstall)
;   ICON        glimmerly.ico
;   OUTFILE     the installer to write
; For all users (Program Files, the default when run as administrator) or for the current user
; alone (%LOCALAPPDATA%\Programs); /AllUsers or /CurrentUser choose on the command line, /S
; installs silently and /AUTOSTART starts Glimmerly with Windows (off by default).
; A 64-bit installer: Glimmerly runs on 64-bit Windows only, and wine64 runs it without a 32-bit
; wine beside it.
Target amd64-unicode
SetCompressor /SOLID lzma
Name "Glimmerly"
OutFile "${OUTFILE}"
BrandingText "Glimmerly ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "Glimmerly"
; An earlier install's mode and folder are the defaults of the next, and tell the uninstaller
; which of HKLM and HKCU to clean.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\glimmerly.exe"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

; The installer's own version information (Explorer's file properties).
VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductName" "Glimmerly"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileVersion" "${VERSION4}"
VIAddVersionKey /LANG=${LANG_GERMAN} "CompanyName" "The Glimmerly developers"
VIAddVersionKey /LANG=${LANG_GERMAN} "LegalCopyright" "Copyright 2026 The Glimmerly developers"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileDescription" "Glimmerly ${VERSION} - Installation"

; While Glimmerly runs (it holds this mutex), its files can be neither replaced nor removed.
!macro GLIMMERLY_NOT_RUNNING
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Screenshot") p .r0'
    ${If} $0 != 0
        System::Call 'kernel32::CloseHandle(p r0)'
        MessageBox MB_OK|MB_ICONEXCLAMATION "Glimmerly läuft noch. Bitte beenden Sie Glimmerly und versuchen Sie es dann noch einmal." /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
!macroend

Section "Glimmerly" SectionProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Glimmerly.lnk" "$INSTDIR\glimmerly.exe" "" "$INSTDIR\glimmerly.exe" 0

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Glimmerly"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Glimmerly developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "URLInfoAbout" "https://glimmerly.org/"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\glimmerly.exe,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Off unless chosen on the components page or with /AUTOSTART.
Section /o "Mit Windows starten" SectionAutostart
    WriteRegStr SHCTX "${RUN_KEY}" "Glimmerly" '"$INSTDIR\glimmerly.exe"'
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SectionProgram} "Das Programm, ein Eintrag im Startmenü und die Deinstallation."
    !insertmacro MUI_DESCRIPTION_TEXT ${SectionAutostart} "Glimmerly bei der Anmeldung an Windows starten."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    SetRegView 64
    !insertmacro MULTIUSER_INIT
    !insertmacro GLIMMERLY_NOT_RUNNING
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/AUTOSTART" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SectionAutostart} ${SF_SELECTED}
    ${EndIf}
FunctionEnd

Function un.onInit
    SetRegView 64
    !insertmacro MULTIUSER_UNINIT
    !insertmacro GLIMMERLY_NOT_RUNNING
FunctionEnd

Section "Uninstall"
    ; Only what the installer put there: a folder chosen by hand may hold other files.
    !include "${FILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Glimmerly.lnk"
    DeleteRegValue SHCTX "${RUN_KEY}" "Glimmerly"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
