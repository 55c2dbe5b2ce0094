; The Windows installer of ЛОРИТ-сервис: `make windows-installer` stages the files
; (cmake --install --component windows) and passes VERSION, STAGE and OUTFILE.
; "/S" installs and uninstalls without a question.
; A 64-bit installer for the 64-bit programs: it runs wherever they can.
Target amd64-unicode
; The name ends in "setup.exe" on purpose: that is what users look for.
!pragma warning disable 9000
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "ЛОРИТ-сервис"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lorit-service"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The installer and the uninstaller speak Russian, as the programs do.
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Russian.nlf"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\lorit-service.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} (демонстрация).lnk" "$INSTDIR\lorit-service-demo.exe"

  ; "Programs and Features"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "ЛОРИТ-сервис"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lorit-service.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes, and everything of the demo: the working
; files the real program wrote beside itself stay, and with them the folder.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} (демонстрация).lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  ; The demo's folder beside the programs, where it writes when it may, and, for the
  ; user who uninstalls, its folder in the user's data and its settings file.
  RMDir /r "$INSTDIR\demo"
  SetShellVarContext current
  RMDir /r "$APPDATA\lorit-service-demo"
  Delete "$LOCALAPPDATA\lorit-service\lorit-service-demo.conf"
  RMDir "$LOCALAPPDATA\lorit-service"
  SetShellVarContext all

  !include "${STAGE}/../installed-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
