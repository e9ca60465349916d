// The start-up from the native handlers on: the part of run that needs no
// Windows header, so that native tests run the program's own sequence. It
// sits above the platform, beside main.cpp; the small start-up helpers in
// startup.cpp stay in core, below every package.
#include "app/main.h"
#include "engine/graphics.h"
#include "errors.h"
#include "game/patch.h"
#include "log.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "peloader/program.h"
#include "platform/gdi.h"
#include "platform/kelmGraphics.h"
#include "platform/kelmInput.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace app {

void runGuestProgram(const peloader::Program& program) {
    // 6. Native handlers: every binding exists before the import slots are
    // filled in step 7.
    platform::registerPlatformFunctions();
    platform::registerGdiFunctions();
    platform::registerWindowFunctions();
    platform::registerKelmGraphicsHooks();
    platform::registerKelmInputHooks();
    game::registerPatches();

    // 7. The guest image.
    machine::initialiseMachine(program);

    // 8. The guest process, then GDI.
    platform::platformInit(program);
    platform::initGdi();

    // 9. The viewport.
    engine::initViewport();

    // 10. The guest run. Only the guest's own failures are caught here; any
    // other error goes on to WinMain without a dump.
    try {
        machine::callGuest(Addr::fromUint(program.entryPoint));
    } catch (const ProgramException& error) {
        logProgramExecutionAborted(error.message());
        machine::state.executionFailed = true;
    }

    // 11. A failed guest run ends with the dump.
    if (machine::state.executionFailed) {
        machine::dumpState();
        abortProgram(ErrorType::program, "VM execution error");
    }
}

}  // namespace app
