#include "platform/win32/com_dispatch.h"

#include <vector>

#include "common/errors.h"
#include "common/text.h"

namespace plat::com {
namespace {

[[noreturn]] void Fail(const std::wstring& what, HRESULT hr) {
  throw corvane::Exception(corvane::Narrow(what) + corvane::Format(" failed (0x%08lX)", static_cast<unsigned long>(hr)));
}

}  // namespace

IDispatch* Variant::Object() const {
  if (v.vt == VT_DISPATCH && v.pdispVal) return v.pdispVal;
  throw corvane::Exception("not an object");
}

Variant Object::Invoke(const wchar_t* name, WORD flags, std::initializer_list<const Variant*> args) const {
  if (!d_) throw corvane::Exception("no object");
  DISPID id = 0;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  HRESULT hr = d_->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) Fail(name, hr);
  // Arguments go in reverse order.
  std::vector<VARIANT> rev;
  for (auto it = args.end(); it != args.begin();) rev.push_back((*--it)->v);
  DISPPARAMS dp{rev.empty() ? nullptr : rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
  DISPID put = DISPID_PROPERTYPUT;
  if (flags & DISPATCH_PROPERTYPUT) {
    dp.rgdispidNamedArgs = &put;
    dp.cNamedArgs = 1;
  }
  Variant result;
  EXCEPINFO ex{};
  hr = d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, (flags & DISPATCH_PROPERTYPUT) ? nullptr : &result.v,
                  &ex, nullptr);
  if (ex.bstrSource) ::SysFreeString(ex.bstrSource);
  if (ex.bstrDescription) ::SysFreeString(ex.bstrDescription);
  if (ex.bstrHelpFile) ::SysFreeString(ex.bstrHelpFile);
  if (FAILED(hr)) Fail(name, hr == DISP_E_EXCEPTION && FAILED(ex.scode) ? ex.scode : hr);
  return result;
}

Variant Object::Call(const wchar_t* name, std::initializer_list<const Variant*> args) const {
  return Invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

Variant Object::Get(const wchar_t* name, std::initializer_list<const Variant*> args) const {
  return Invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
}

void Object::Put(const wchar_t* name, const Variant& value) const { Invoke(name, DISPATCH_PROPERTYPUT, {&value}); }

Object Object::GetObject(const wchar_t* name) const { return FromVariant(Get(name)); }

IEnumVARIANT* Object::NewEnum() const {
  if (!d_) throw corvane::Exception("no object");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  HRESULT hr = d_->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          &none, &result.v, nullptr, nullptr);
  if (FAILED(hr)) Fail(L"_NewEnum", hr);
  IUnknown* unk = result.v.vt == VT_UNKNOWN ? result.v.punkVal : result.v.vt == VT_DISPATCH ? result.v.pdispVal : nullptr;
  if (!unk) throw corvane::Exception("_NewEnum: no enumerator");
  IEnumVARIANT* e = nullptr;
  hr = unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
  if (FAILED(hr) || !e) Fail(L"IEnumVARIANT", hr);
  return e;
}

Object CreateObject(const wchar_t* progId) {
  CLSID clsid;
  HRESULT hr = ::CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) Fail(progId, hr);
  IDispatch* d = nullptr;
  hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&d));
  if (FAILED(hr) || !d) Fail(progId, hr);
  return Object(d);
}

Object FromVariant(const Variant& v) {
  IDispatch* d = v.Object();
  d->AddRef();
  return Object(d);
}

}  // namespace plat::com
