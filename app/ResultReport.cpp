#include "app/ResultReport.h"

#include "app/PackageRunner.h"
#include "app/Reports.h"
#include "app/TesselApp.h"

void ReportResult(CPackageRunner* runner) {
  const CTesselApp* app = TesselApp();
  ReportResultFor(app->m_dwExitCode, app->GetShowResult(), app->GetSuccessCode(),
                  runner ? runner->GetProductName() : CString());
}
