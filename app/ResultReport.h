#pragma once
class CPackageRunner;

// The result report for a finished payload: the application's exit code, ShowResult and success
// codes, with the run's product name as caption.
void ReportResult(CPackageRunner* runner);
