// The five exports: thin wrappers over the one Converter, built when the
// library is loaded and destroyed when it is unloaded.
#include "api/converter.h"
#include "api/messages.h"
#include "ravelo.h"

namespace {
ravelo::Converter converter;
}  // namespace

extern "C" {

RAVELO_API void RAVELO_CALL RaveloDayCntlTypeSet(int32_t dayCntlType) {
  converter.DayCntlTypeSet(dayCntlType);
}

RAVELO_API int32_t RAVELO_CALL RaveloErrMsgGet(int32_t code, char* buffer) {
  return ravelo::ErrMsgGet(code, buffer);
}

RAVELO_API int32_t RAVELO_CALL RaveloINIFileDelete(void) { return converter.INIFileDelete(); }

RAVELO_API void RAVELO_CALL RaveloInit(const char* workFolder, int32_t idNumber,
                                       int32_t dayCntlType) {
  converter.Init(workFolder, idNumber, dayCntlType);
}

RAVELO_API int32_t RAVELO_CALL RaveloProc(const char* inputPath, const char* destFolder,
                                          int32_t csvFileKind, int32_t makeMethod,
                                          int32_t directOutput) {
  return converter.Proc(inputPath, destFolder, csvFileKind, makeMethod, directOutput);
}

}  // extern "C"
