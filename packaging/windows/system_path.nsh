; The system PATH, edited by hand: NSIS has no safe built-in way. Every string here is
; at most NSIS_MAX_STRLEN - 1 characters (1023 with Debian's makensis), and a longer
; registry value comes back from ReadRegStr empty, with the error flag set; writing
; from that, or from a sum cut to the limit, would wipe or shorten the user's PATH.
; So a PATH that does not fit is never written: the user is told to edit it by hand.
;
; The installer appends its folder and records the exact text it appended (with the
; ';' it put before it) as PathEntry in its uninstall key; the uninstaller takes that
; text off the end again, which gives back the PATH byte for byte, or, when something
; was appended after it, removes the one entry with its separator.

!include LogicLib.nsh
!include WinMessages.nsh

!define TRACKLOOM_ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

; PathEntryIndex LIST ENTRY -> the offset of ENTRY among LIST's ';'-separated entries,
; compared without case as Windows does, or -1. Stack: push LIST, push ENTRY, call, pop.
!macro TRACKLOOM_PATH_ENTRY_INDEX prefix
Function ${prefix}PathEntryIndex
  Exch $R1 ; ENTRY, and the answer
  Exch
  Exch $R0 ; LIST
  Push $R2 ; where the current entry starts
  Push $R3 ; the character looked at
  Push $R4
  Push $R5 ; LIST's length
  StrLen $R5 $R0
  StrCpy $R2 0
  StrCpy $R3 0
  ${Do}
    StrCpy $R4 $R0 1 $R3
    ${If} $R4 == ";"
    ${OrIf} $R3 >= $R5
      IntOp $R4 $R3 - $R2
      StrCpy $R4 $R0 $R4 $R2
      ${If} $R4 == $R1
        StrCpy $R1 $R2
        ${Break}
      ${ElseIf} $R3 >= $R5
        StrCpy $R1 -1
        ${Break}
      ${EndIf}
      IntOp $R2 $R3 + 1
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R0
  Exch $R1
FunctionEnd
!macroend
!insertmacro TRACKLOOM_PATH_ENTRY_INDEX ""
!insertmacro TRACKLOOM_PATH_ENTRY_INDEX "un."

; Tells every open window (Explorer, so new command prompts) that the PATH changed.
!macro TRACKLOOM_ANNOUNCE_ENVIRONMENT
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

; Appends $INSTDIR to the system PATH unless it is on it; records what it appended.
Function AddInstallFolderToPath
  ClearErrors
  ReadRegStr $0 HKLM "${TRACKLOOM_ENVIRONMENT_KEY}" "Path"
  ${If} ${Errors}
    ; Too long to read whole (or not there at all, which Windows never does).
    DetailPrint "The system PATH is longer than this installer can edit safely \
      (${NSIS_MAX_STRLEN} characters): it was left as it is."
    DetailPrint "To run trackloom from any folder, add $INSTDIR to it by hand."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The system PATH is too long for this installer \
      to edit safely, so it was left as it is.$\r$\nTo run trackloom from any folder, \
      add $INSTDIR to it by hand (System, Environment Variables)." /SD IDOK
    Return
  ${EndIf}
  Push $0
  Push $INSTDIR
  Call PathEntryIndex
  Pop $1
  ${If} $1 >= 0
    DetailPrint "$INSTDIR is on the system PATH already."
    Return
  ${EndIf}
  StrCpy $2 $0 1 -1
  ${If} $0 == ""
  ${OrIf} $2 == ";"
    StrCpy $2 "$INSTDIR"
  ${Else}
    StrCpy $2 ";$INSTDIR"
  ${EndIf}
  ; The sum must fit before it is made: NSIS would cut it without a word.
  StrLen $3 $0
  StrLen $4 $2
  IntOp $3 $3 + $4
  ${If} $3 >= ${NSIS_MAX_STRLEN}
    DetailPrint "The system PATH would be longer than this installer can write safely \
      (${NSIS_MAX_STRLEN} characters): it was left as it is."
    DetailPrint "To run trackloom from any folder, add $INSTDIR to it by hand."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The system PATH is too long for this installer \
      to edit safely, so it was left as it is.$\r$\nTo run trackloom from any folder, \
      add $INSTDIR to it by hand (System, Environment Variables)." /SD IDOK
    Return
  ${EndIf}
  WriteRegExpandStr HKLM "${TRACKLOOM_ENVIRONMENT_KEY}" "Path" "$0$2"
  WriteRegStr HKLM "${TRACKLOOM_UNINSTALL_KEY}" "PathEntry" "$2"
  DetailPrint "Added $INSTDIR to the system PATH."
  !insertmacro TRACKLOOM_ANNOUNCE_ENVIRONMENT
FunctionEnd

; Takes off the system PATH what AddInstallFolderToPath recorded, and nothing else.
Function un.RemoveInstallFolderFromPath
  ReadRegStr $1 HKLM "${TRACKLOOM_UNINSTALL_KEY}" "PathEntry"
  ${If} $1 == ""
    Return
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKLM "${TRACKLOOM_ENVIRONMENT_KEY}" "Path"
  ${If} ${Errors}
    DetailPrint "The system PATH is too long to edit safely: remove $INSTDIR from it by hand."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The system PATH is too long for this uninstaller \
      to edit safely.$\r$\nRemove $INSTDIR from it by hand (System, Environment \
      Variables)." /SD IDOK
    Return
  ${EndIf}
  StrLen $2 $1
  StrCpy $3 $0 "" -$2
  ${If} $3 == $1
    ; Still the last entry: the PATH as it was before the install.
    StrCpy $0 $0 -$2
  ${Else}
    ; Something was appended after it: remove the entry and one separator.
    StrCpy $4 $1
    StrCpy $5 $4 1
    ${If} $5 == ";"
      StrCpy $4 $4 "" 1
    ${EndIf}
    Push $0
    Push $4
    Call un.PathEntryIndex
    Pop $5
    ${If} $5 < 0
      DetailPrint "$4 is no longer on the system PATH."
      Return
    ${EndIf}
    StrLen $6 $4
    ${If} $5 > 0
      IntOp $7 $5 - 1
      StrCpy $7 $0 $7
      IntOp $8 $5 + $6
    ${Else}
      StrCpy $7 ""
      IntOp $8 $6 + 1
    ${EndIf}
    StrCpy $8 $0 "" $8
    StrCpy $0 "$7$8"
  ${EndIf}
  WriteRegExpandStr HKLM "${TRACKLOOM_ENVIRONMENT_KEY}" "Path" "$0"
  DetailPrint "Removed $INSTDIR from the system PATH."
  !insertmacro TRACKLOOM_ANNOUNCE_ENVIRONMENT
FunctionEnd
