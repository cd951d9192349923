@echo off
rem Tells a fleet tool (Intune, Configuration Manager, a startup script) whether this
rem computer's sensor runs the firmware zorflash.exe writes. It asks
rem "zorflash.exe --info --report FILE", which sends the sensor nothing, and reads the report
rem that run leaves.
rem
rem   zorflash-detect.cmd [REPORT-FILE [ZORFLASH-EXE]]
rem
rem REPORT-FILE defaults to %TEMP%\zorflash-detect.json, ZORFLASH-EXE to the zorflash.exe
rem beside this script. One line on standard output says the state, the exit status too:
rem   0  installed       the sensor runs the version zorflash.exe writes
rem   1  needs update    a sensor this update fits runs another version, in normal mode or in
rem                      its boot loader with a record of its family
rem   2  not applicable  no sensor, or one this update does not fit
rem   3  error           no state to trust: the family of a boot loader unknown, another
rem                      zorflash.exe running, no report, or a report of another run
setlocal EnableExtensions DisableDelayedExpansion
set "report=%~1"
if not defined report set "report=%TEMP%\zorflash-detect.json"
set "program=%~2"
if not defined program set "program=%~dp0zorflash.exe"

rem An earlier run's report must not answer for this one: the run replaces the file as it
rem starts, but a program that never starts would leave it.
if exist "%report%" del /f /q "%report%" >nul 2>&1
"%program%" --info --report "%report%" >nul 2>&1
set "status=%ERRORLEVEL%"
if not exist "%report%" (
    echo error: zorflash.exe wrote no report, exit status %status%
    exit /b 3
)
call :field state
call :field exitStatus
call :field verdict
call :field family
call :field mode
call :field version
call :field carriedVersion
if not "%state%"=="ended" (
    echo error: zorflash.exe did not end its report, exit status %status%
    exit /b 3
)
if not "%exitStatus%"=="%status%" (
    echo error: the report says exit status %exitStatus%, zorflash.exe ended with %status%
    exit /b 3
)
if "%status%"=="3" (
    echo not applicable: no sensor found
    exit /b 2
)
if not "%status%"=="0" (
    echo error: zorflash.exe --info ended with exit status %status%
    exit /b 3
)
if "%verdict%"=="up to date" (
    echo installed: family %family% sensor runs %version%, the version zorflash.exe writes
    exit /b 0
)
if "%verdict%"=="update available" if "%mode%"=="boot loader" (
    echo needs update: family %family% sensor in its boot loader, zorflash.exe writes %carriedVersion%
    exit /b 1
)
if "%verdict%"=="update available" (
    echo needs update: family %family% sensor, %mode%, runs %version%, zorflash.exe writes %carriedVersion%
    exit /b 1
)
if "%verdict%"=="this update does not fit this sensor" (
    echo not applicable: this update does not fit this sensor, family %family% version %version%
    exit /b 2
)
if "%verdict%"=="sensor in its boot loader, family unknown" (
    echo error: sensor in its boot loader, family unknown on this computer
    exit /b 3
)
echo error: the report's verdict "%verdict%" is not one this script knows
exit /b 3

rem :field NAME sets NAME to the first "NAME": member's value in the report, without its
rem quotes and comma. The report puts each member on a line of its own and escapes every
rem quote inside a string, so "NAME": with its quotes matches only a member's name; the
rem sensor's "family" comes before the images' ones. Only the matching lines reach the
rem loop: others (the records' registry paths) hold characters that cmd would read as
rem commands.
:field
set "%1="
for /f "tokens=1,* delims=: " %%a in ('find """%1"":" ^< "%report%"') do if not defined %1 set "%1=%%b"
if not defined %1 exit /b 0
call set "value=%%%1:"=%%"
if "%value:~-1%"=="," set "value=%value:~0,-1%"
set "%1=%value%"
exit /b 0
