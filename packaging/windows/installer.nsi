; The Windows installer: the command (trackloom.exe), README.txt, LICENSE.txt,
; example.vcf and the editor filter in both widths (plugins\, plugins64\) into
; Program Files\Trackloom; the folder on the system PATH (a component, on by default);
; the filter copied into an editor's plugins32 and plugins64 folders (a component, off
; by default); a Start-menu folder; an uninstaller in Apps & features that removes
; what the install added and nothing else.
;
; scripts/release builds it from the zip's staged files:
;   makensis -DVERSION=1.2.3 -DSTAGE=DIR -DOUTFILE=FILE packaging/windows/installer.nsi
;
; Installing without questions (for scripts, and scripts/check-release):
;   trackloom-VERSION-setup.exe /S [/EDITOR=FOLDER] [/D=INSTALL FOLDER]
; /S takes the defaults (on the PATH, no editor); /EDITOR= copies the filter into FOLDER
; too (quote it when it has spaces; when FOLDER does not exist, the rest is installed and
; the exit status is 2); /D= comes last, unquoted, as for every installer of this kind.
; "Uninstall.exe /S" uninstalls without questions.

!ifdef VERSION & STAGE & OUTFILE
!else
  !error "give -DVERSION=, -DSTAGE= and -DOUTFILE= (see the top of this file)"
!endif

Unicode true
; Program Files and HKLM: every user gets the command.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true

!define TRACKLOOM_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Trackloom"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include x64.nsh
!include system_path.nsh

Name "Trackloom ${VERSION}"
OutFile "${OUTFILE}"
; The installer is a 32-bit program (it says so on 32-bit Windows instead of failing
; to start); the command is 64-bit, so its folder and keys are the 64-bit ones.
InstallDir "$PROGRAMFILES64\Trackloom"
BrandingText "Trackloom ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Trackloom"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Trackloom ${VERSION} setup"
VIAddVersionKey "CompanyName" "Trackloom"
VIAddVersionKey "LegalCopyright" "2026 the Trackloom developers; GNU GPL, version 2 or later"

Var EditorDir
Var PreviousDir

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY

; The editor's folder: asked only when its component is chosen.
!define MUI_PAGE_CUSTOMFUNCTION_PRE EditorPagePre
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE EditorPageLeave
!define MUI_PAGE_HEADER_TEXT "Video editor"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder of the video editor that gets the filter."
!define MUI_DIRECTORYPAGE_TEXT_TOP "The filter is copied into the plugins32 and plugins64 \
  folders of the editor's folder (the one that holds the editor's program); they are made \
  if missing. Uninstalling Trackloom removes these two copies and nothing else there."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Editor folder"
!define MUI_DIRECTORYPAGE_VARIABLE $EditorDir
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show README.txt"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; An earlier install is uninstalled first, by its own uninstaller, wherever it is: so an
; upgrade leaves no file the new version no longer has, and a move to another folder
; leaves no folder, PATH entry or editor copy behind that no uninstaller knows of.
Section "-previous"
  ${If} $PreviousDir != ""
  ${AndIf} ${FileExists} "$PreviousDir\Uninstall.exe"
    DetailPrint "Uninstalling the earlier installation in $PreviousDir"
    ; _?= makes it run in place and wait; it cannot delete itself then.
    ExecWait '"$PreviousDir\Uninstall.exe" /S _?=$PreviousDir'
    Delete "$PreviousDir\Uninstall.exe"
    RMDir "$PreviousDir"
  ${EndIf}
SectionEnd

Section "Trackloom (the command and the filter)" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}/trackloom.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/LICENSE.txt"
  File "${STAGE}/example.vcf"
  SetOutPath "$INSTDIR\plugins"
  File "${STAGE}/plugins/trackloom.vdf"
  SetOutPath "$INSTDIR\plugins64"
  File "${STAGE}/plugins64/trackloom.vdf"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Trackloom"
  CreateShortcut "$SMPROGRAMS\Trackloom\Trackloom README.lnk" "$INSTDIR\README.txt"
  ; The studio's shortcut goes here once trackloom studio is in the Windows command:
  ; CreateShortcut "$SMPROGRAMS\Trackloom\Trackloom studio.lnk" "$INSTDIR\trackloom.exe" "studio"
  CreateShortcut "$SMPROGRAMS\Trackloom\Uninstall Trackloom.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "DisplayName" "Trackloom"
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "Publisher" "Trackloom"
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\trackloom.exe"
  WriteRegDWORD HKLM "${TRACKLOOM_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${TRACKLOOM_UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Add trackloom to PATH" SecPath
  Call AddInstallFolderToPath
SectionEnd

Section /o "Copy the filter into a video editor" SecEditor
  Call CopyFilterIntoEditor
SectionEnd

; Last, so that it counts whatever the others put into the folder.
Section "-size"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function .onInit
  SetShellVarContext all
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "Trackloom needs 64-bit Windows." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/EDITOR=" $1
  ${IfNot} ${Errors}
    StrCpy $EditorDir $1
    !insertmacro SelectSection ${SecEditor}
  ${EndIf}
  ; An upgrade keeps the earlier install's folder (unless /D= says otherwise) and
  ; editor folder.
  ReadRegStr $PreviousDir HKLM "${TRACKLOOM_UNINSTALL_KEY}" "InstallLocation"
  ${If} $PreviousDir != ""
  ${AndIf} $INSTDIR == "$PROGRAMFILES64\Trackloom"
    StrCpy $INSTDIR $PreviousDir
  ${EndIf}
  ReadRegStr $1 HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorFolder"
  ${If} $EditorDir == ""
  ${AndIf} $1 != ""
    StrCpy $EditorDir $1
    !insertmacro SelectSection ${SecEditor}
  ${EndIf}
  ${If} $EditorDir == ""
    StrCpy $EditorDir "$PROGRAMFILES64"
  ${EndIf}
FunctionEnd

Function EditorPagePre
  ${IfNot} ${SectionIsSelected} ${SecEditor}
    Abort
  ${EndIf}
FunctionEnd

Function EditorPageLeave
  ${IfNot} ${FileExists} "$EditorDir\*.*"
    MessageBox MB_ICONEXCLAMATION|MB_OK "$EditorDir is not a folder: choose the editor's own folder."
    Abort
  ${EndIf}
FunctionEnd

; The uninstall key remembers the editor folder, and which of its plugins folders the
; install made, so that the uninstaller takes away exactly the two copies (and those
; folders when nothing else went into them).
!macro TRACKLOOM_COPY_INTO_EDITOR folder source
  ${If} ${FileExists} "$EditorDir\${folder}\*.*"
    ; Made by an earlier install into the same folder: still the installer's.
    ReadRegStr $1 HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorMade_${folder}"
    ${If} $0 != $EditorDir
      StrCpy $1 0
    ${EndIf}
  ${Else}
    CreateDirectory "$EditorDir\${folder}"
    StrCpy $1 1
  ${EndIf}
  SetOutPath "$EditorDir\${folder}"
  File "${STAGE}/${source}/trackloom.vdf"
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorMade_${folder}" $1
!macroend

Function CopyFilterIntoEditor
  ${IfNot} ${FileExists} "$EditorDir\*.*"
    DetailPrint "The editor folder $EditorDir does not exist: the filter was not copied into it."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The editor folder $EditorDir does not exist, so the \
      filter was not copied into it." /SD IDOK
    SetErrorLevel 2
    Return
  ${EndIf}
  ReadRegStr $0 HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorFolder"
  !insertmacro TRACKLOOM_COPY_INTO_EDITOR plugins32 plugins
  !insertmacro TRACKLOOM_COPY_INTO_EDITOR plugins64 plugins64
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorFolder" "$EditorDir"
  DetailPrint "Copied the filter into $EditorDir\plugins32 and $EditorDir\plugins64."
  SetOutPath "$INSTDIR"
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

!macro TRACKLOOM_REMOVE_FROM_EDITOR folder
  Delete "$0\${folder}\trackloom.vdf"
  ReadRegStr $1 HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorMade_${folder}"
  ${If} $1 == 1
    RMDir "$0\${folder}"
  ${EndIf}
!macroend

Section "Uninstall"
  ReadRegStr $0 HKLM "${TRACKLOOM_UNINSTALL_KEY}" "EditorFolder"
  ${If} $0 != ""
    !insertmacro TRACKLOOM_REMOVE_FROM_EDITOR plugins32
    !insertmacro TRACKLOOM_REMOVE_FROM_EDITOR plugins64
  ${EndIf}
  Call un.RemoveInstallFolderFromPath

  ; Each file by name, and folders only when empty: what the user put there stays.
  Delete "$SMPROGRAMS\Trackloom\Trackloom README.lnk"
  Delete "$SMPROGRAMS\Trackloom\Uninstall Trackloom.lnk"
  RMDir "$SMPROGRAMS\Trackloom"
  Delete "$INSTDIR\plugins\trackloom.vdf"
  Delete "$INSTDIR\plugins64\trackloom.vdf"
  RMDir "$INSTDIR\plugins"
  RMDir "$INSTDIR\plugins64"
  Delete "$INSTDIR\trackloom.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\example.vcf"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${TRACKLOOM_UNINSTALL_KEY}"
SectionEnd
