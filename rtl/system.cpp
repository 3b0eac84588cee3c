#include "rtl/system.h"

#include "rtl/report.h"
#include "rtl/sysutils.h"

namespace rtl {

int RunProgram() {
  try {
    ProgramMain();
  } catch (const Exception& failure) {
    // Unwinding has closed the file by now. That matters: started with
    // standard error closed, the file holds descriptor 2, where the report goes.
    ShowUnhandledFailureReport(failure);
    return 1;
  }
  return 0;
}

}  // namespace rtl
