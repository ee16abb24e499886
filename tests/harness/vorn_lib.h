// The library as a client process sees it after dlopen: every exported
// function and global, bound by its exported name.
#pragma once

#include <string>

#include "vorn_if.h"

namespace vorntest {

struct VornLib {
    void* handle = nullptr;

    int* fd_DMA = nullptr;
    int* fd_Mbox = nullptr;
    int* fd_Lock = nullptr;
    int* loginLevel = nullptr;
    int* SAMP_FREQ = nullptr;
    double** in = nullptr;
    fftw_complex** out = nullptr;
    fftw_plan* p = nullptr;

    decltype(&::my_init) my_init = nullptr;
    decltype(&::my_fini) my_fini = nullptr;
    decltype(&::getLock) getLock = nullptr;
    decltype(&::getLockStatus) getLockStatus = nullptr;
    decltype(&::getVornLock) getVornLock = nullptr;
    decltype(&::releaseVornLock) releaseVornLock = nullptr;
    decltype(&::lock_sigaction) lock_sigaction = nullptr;
    decltype(&::getBPMscaling) getBPMscaling = nullptr;
    decltype(&::getROCandROI) getROCandROI = nullptr;
    decltype(&::getPosArray) getPosArray = nullptr;
    decltype(&::getCurrentArray) getCurrentArray = nullptr;
    decltype(&::getFFT) getFFT = nullptr;
    decltype(&::fftw_abs) fftw_abs = nullptr;
    decltype(&::setWindAvg) setWindAvg = nullptr;
    decltype(&::setCrossBar) setCrossBar = nullptr;
    decltype(&::setBPMorient) setBPMorient = nullptr;
    decltype(&::setFBenable) setFBenable = nullptr;
    decltype(&::getPosStats) getPosStats = nullptr;
    decltype(&::getSFPinfo) getSFPinfo = nullptr;
    decltype(&::setPIDparams) setPIDparams = nullptr;
    decltype(&::setPIDconf) setPIDconf = nullptr;
    decltype(&::getPIDconf) getPIDconf = nullptr;
    decltype(&::setPIDoutSel) setPIDoutSel = nullptr;
    decltype(&::setROC) setROC = nullptr;
    decltype(&::setOffset) setOffset = nullptr;
    decltype(&::setSetpoint) setSetpoint = nullptr;
    decltype(&::getSetpoint) getSetpoint = nullptr;
    decltype(&::getPIDstatus) getPIDstatus = nullptr;
    decltype(&::setCtrlReset) setCtrlReset = nullptr;

    int level() const;  // an atomic read of loginLevel
};

// Loads the built library (running its load hook) and binds every name;
// returns the dlerror text of the first failure in `error`.
bool load_vorn_lib(VornLib& lib, std::string& error);
void unload_vorn_lib(VornLib& lib);

}  // namespace vorntest
