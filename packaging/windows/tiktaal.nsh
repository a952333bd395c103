; Tiktaal's own installer steps, included into the CPack NSIS script.
!include LogicLib.nsh
!include WinMessages.nsh
!include FileFunc.nsh

!define TIKTAAL_SERVICE_EXE "$INSTDIR\tiktaal-set-clock.exe"

; Asks a running copy to save its settings and quit, as the end of the session does, and
; waits up to 5 s for its window to go: its files cannot be replaced while it runs.
!macro TiktaalQuitRunning
  StrCpy $R1 0
  ${Do}
    FindWindow $R0 "" "Tiktaal "
    ${If} $R0 = 0
      ${Break}
    ${EndIf}
    ${If} $R1 = 0
      SendMessage $R0 ${WM_QUERYENDSESSION} 0 1 /TIMEOUT=3000
      SendMessage $R0 ${WM_ENDSESSION} 1 1 /TIMEOUT=3000
    ${EndIf}
    Sleep 100
    IntOp $R1 $R1 + 1
  ${LoopUntil} $R1 >= 50
!macroend

!macro TiktaalBeforeInstall
  !insertmacro TiktaalQuitRunning
  ; An upgrade: the service lets go of its file; --install starts it again.
  ${If} ${FileExists} "${TIKTAAL_SERVICE_EXE}"
    nsExec::Exec '"$SYSDIR\sc.exe" stop TiktaalClock'
    Pop $0
    Sleep 1000
  ${EndIf}
!macroend

; The clock service, with the installing user in the group whose members may ask it.
!macro TiktaalAfterInstall
  ${If} ${FileExists} "${TIKTAAL_SERVICE_EXE}"
    ReadEnvStr $0 USERNAME
    ReadEnvStr $1 USERDOMAIN
    ExecWait '"${TIKTAAL_SERVICE_EXE}" --install "$1\$0"' $2
    ${If} $2 <> 0
      DetailPrint "The clock service was not installed (status $2): Tiktaal will not set the clock."
    ${EndIf}
  ${EndIf}
!macroend

; The program, the service and the autostart entry go; the user's settings and log stay
; unless the uninstaller is run with /PURGE.
!macro TiktaalUninstall
  !insertmacro TiktaalQuitRunning
  ${If} ${FileExists} "${TIKTAAL_SERVICE_EXE}"
    ExecWait '"${TIKTAAL_SERVICE_EXE}" --uninstall' $2
  ${EndIf}
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Tiktaal"
  ${un.GetParameters} $R0
  ClearErrors
  ${un.GetOptions} $R0 "/PURGE" $R1
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "Software\Tiktaal"
    SetShellVarContext current
    RMDir /r "$LOCALAPPDATA\Tiktaal"
    SetShellVarContext all
  ${EndIf}
!macroend
