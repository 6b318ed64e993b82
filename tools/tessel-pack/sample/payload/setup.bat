@echo off
rem Tessel sample installer: records that it ran (with its arguments) where it outlives the work folder.
if not exist "%ProgramData%\Tessel Sample" mkdir "%ProgramData%\Tessel Sample"
echo Tessel Sample installed from %~dp0 with arguments: %*> "%ProgramData%\Tessel Sample\installed.txt"
exit /b 0
