// The CNG hash functions, from bcrypt.dll loaded out of the system folder on
// first use (it is not a Known DLL). Tests can put other calls in place to
// see that every failure is noticed.
#pragma once
#include <windows.h>
#include <bcrypt.h>

namespace plat {

struct CngCalls {
  decltype(&::BCryptOpenAlgorithmProvider) openAlgorithm;
  decltype(&::BCryptCloseAlgorithmProvider) closeAlgorithm;
  decltype(&::BCryptCreateHash) createHash;
  decltype(&::BCryptHashData) hashData;
  decltype(&::BCryptFinishHash) finishHash;
  decltype(&::BCryptDestroyHash) destroyHash;
};

// The calls in use; nullptr when bcrypt.dll cannot be loaded.
const CngCalls* Cng();
// Puts other calls in place (nullptr: the system's again). While they are
// in place, SHA-1 is taken from CNG on every processor.
void SetCngForTest(const CngCalls* calls);

}  // namespace plat
