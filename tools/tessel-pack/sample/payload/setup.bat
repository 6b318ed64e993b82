@echo off
rem Tessel sample installer: leaves a marker beside itself and reports success.
echo Tessel sample installed> "%~dp0tessel-sample-marker.txt"
exit /b 0
