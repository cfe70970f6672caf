// Late-bound automation (IDispatch) calls, as a script would make them.
#pragma once
#include <oaidl.h>
#include <windows.h>

#include <initializer_list>
#include <string>

namespace plat::com {

// CoInitialize for the length of a scope; undone only when it succeeded.
class ComScope {
 public:
  ComScope() : hr_(::CoInitialize(nullptr)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

// A VARIANT that clears itself.
struct Variant {
  VARIANT v;
  Variant() { ::VariantInit(&v); }
  explicit Variant(const std::wstring& s) {
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  }
  explicit Variant(long i) {
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = i;
  }
  static Variant Bool(bool b) {
    Variant r;
    r.v.vt = VT_BOOL;
    r.v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
  }
  static Variant Dispatch(IDispatch* d) {  // adds a reference
    Variant r;
    r.v.vt = VT_DISPATCH;
    r.v.pdispVal = d;
    if (d) d->AddRef();
    return r;
  }
  Variant(Variant&& o) noexcept {
    v = o.v;
    ::VariantInit(&o.v);
  }
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o) {
      ::VariantClear(&v);
      v = o.v;
      ::VariantInit(&o.v);
    }
    return *this;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { ::VariantClear(&v); }
  bool IsNull() const { return v.vt == VT_NULL || v.vt == VT_EMPTY; }
  // The object inside; raises when the value holds none.
  IDispatch* Object() const;
};

// An owned IDispatch reference.
class Object {
 public:
  Object() = default;
  explicit Object(IDispatch* d) : d_(d) {}  // takes the reference
  Object(Object&& o) noexcept : d_(o.d_) { o.d_ = nullptr; }
  Object& operator=(Object&& o) noexcept {
    if (this != &o) {
      if (d_) d_->Release();
      d_ = o.d_;
      o.d_ = nullptr;
    }
    return *this;
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  ~Object() {
    if (d_) d_->Release();
  }
  IDispatch* get() const { return d_; }

  // Each raises corvane::Exception with the member name and HRESULT on failure.
  Variant Call(const wchar_t* name, std::initializer_list<const Variant*> args = {}) const;
  Variant Get(const wchar_t* name, std::initializer_list<const Variant*> args = {}) const;
  void Put(const wchar_t* name, const Variant& value) const;
  Object GetObject(const wchar_t* name) const;
  // The enumerator behind "For Each" (DISPID_NEWENUM); the caller releases it.
  IEnumVARIANT* NewEnum() const;

 private:
  Variant Invoke(const wchar_t* name, WORD flags, std::initializer_list<const Variant*> args) const;
  IDispatch* d_ = nullptr;
};

// CreateObject(progId); raises on failure.
Object CreateObject(const wchar_t* progId);
// A new reference to the object held by a value.
Object FromVariant(const Variant& v);

}  // namespace plat::com
