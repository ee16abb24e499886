#include "vorn_lib.h"

#include <dlfcn.h>

#include <atomic>
#include <string>

namespace vorntest {
namespace {

template <typename T>
bool bind(void* handle, T& target, const char* name, std::string& error) {
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr) {
        error = std::string("missing ") + name;
        return false;
    }
    target = reinterpret_cast<T>(address);
    return true;
}

}  // namespace

int VornLib::level() const {
    return std::atomic_ref<int>(*loginLevel).load();
}

bool load_vorn_lib(VornLib& lib, std::string& error) {
    lib.handle = dlopen(VORN_IF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        error = dlerror();
        return false;
    }
    void* h = lib.handle;
    return bind(h, lib.fd_DMA, "fd_DMA", error) && bind(h, lib.fd_Mbox, "fd_Mbox", error) &&
           bind(h, lib.fd_Lock, "fd_Lock", error) &&
           bind(h, lib.loginLevel, "loginLevel", error) &&
           bind(h, lib.SAMP_FREQ, "SAMP_FREQ", error) && bind(h, lib.in, "in", error) &&
           bind(h, lib.out, "out", error) && bind(h, lib.p, "p", error) &&
           bind(h, lib.my_init, "_Z7my_initv", error) &&
           bind(h, lib.my_fini, "_Z7my_finiv", error) &&
           bind(h, lib.getLock, "_Z7getLockPKcS0_", error) &&
           bind(h, lib.getLockStatus, "_Z13getLockStatusv", error) &&
           bind(h, lib.getVornLock, "_Z11getVornLocki", error) &&
           bind(h, lib.releaseVornLock, "_Z15releaseVornLocki", error) &&
           bind(h, lib.lock_sigaction, "_Z14lock_sigactioniP9siginfo_tPv", error) &&
           bind(h, lib.getBPMscaling, "_Z13getBPMscalingPdS_", error) &&
           bind(h, lib.getROCandROI, "_Z12getROCandROIPdS_S_S_S_", error) &&
           bind(h, lib.getPosArray, "getPosArray", error) &&
           bind(h, lib.getCurrentArray, "getCurrentArray", error) &&
           bind(h, lib.getFFT, "getFFT", error) && bind(h, lib.fftw_abs, "_Z8fftw_absPd", error) &&
           bind(h, lib.setWindAvg, "_Z10setWindAvgcj", error) &&
           bind(h, lib.setCrossBar, "_Z11setCrossBarhhhhh", error) &&
           bind(h, lib.setBPMorient, "_Z12setBPMorienthh", error) &&
           bind(h, lib.setFBenable, "_Z11setFBenablei", error) &&
           bind(h, lib.getPosStats, "getPosStats", error) &&
           bind(h, lib.getSFPinfo, "getSFPinfo", error) &&
           bind(h, lib.setPIDparams, "_Z12setPIDparamscdddddddd", error) &&
           bind(h, lib.setPIDconf, "_Z10setPIDconfc", error) &&
           bind(h, lib.getPIDconf, "_Z10getPIDconfPc", error) &&
           bind(h, lib.setPIDoutSel, "_Z12setPIDoutSelhhh", error) &&
           bind(h, lib.setROC, "_Z6setROCcdd", error) &&
           bind(h, lib.setOffset, "_Z9setOffsetddd", error) &&
           bind(h, lib.setSetpoint, "_Z11setSetpointcd", error) &&
           bind(h, lib.getSetpoint, "_Z11getSetpointcPd", error) &&
           bind(h, lib.getPIDstatus, "_Z12getPIDstatusv", error) &&
           bind(h, lib.setCtrlReset, "_Z12setCtrlResetv", error);
}

void unload_vorn_lib(VornLib& lib) {
    if (lib.handle != nullptr) {
        dlclose(lib.handle);
        lib.handle = nullptr;
    }
}

}  // namespace vorntest
