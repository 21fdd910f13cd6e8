// Test helper: creates token objects in a loop through the module, printing
// "created N" after each committed object.
//   softtoken_writer PREFIX COUNT   (COUNT 0: until killed)
// The user PIN comes from standard input. With PREFIX "--reinit" it
// re-initialises the first token instead, with the SO PIN from standard input.
#include <dlfcn.h>
#include <pkcs11_vendor.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string prefix = argv[1];
  long count = std::atol(argv[2]);
  std::string pin;
  std::getline(std::cin, pin);
  void* h = dlopen(SOFTTOKEN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!h) return 3;
  auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList"));
  CK_FUNCTION_LIST_PTR f = nullptr;
  if (!get || get(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) return 4;
  CK_ULONG n = 0;
  f->C_GetSlotList(CK_TRUE, nullptr, &n);
  std::vector<CK_SLOT_ID> slots(n);
  f->C_GetSlotList(CK_TRUE, slots.data(), &n);
  if (prefix == "--reinit") {
    unsigned char label[32];
    for (auto& c : label) c = ' ';
    CK_RV rv = n < 2 ? CKR_SLOT_ID_INVALID : f->C_InitToken(slots[0], (CK_UTF8CHAR_PTR)pin.data(), pin.size(), label);
    std::printf("C_InitToken 0x%lx\n", rv);
    return rv == CKR_OK ? 0 : 8;
  }
  CK_SESSION_HANDLE s;
  if (n < 2 || f->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK)
    return 5;
  if (f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)pin.data(), pin.size()) != CKR_OK) return 6;
  std::string filler(300, 'x');
  for (long i = 0; count == 0 || i < count; ++i) {
    std::string label = prefix + "-" + std::to_string(i);
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL priv = (i % 2) ? CK_TRUE : CK_FALSE;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_TOKEN, &yes, sizeof yes},
                        {CKA_PRIVATE, &priv, sizeof priv},
                        {CKA_LABEL, label.data(), label.size()},
                        {CKA_VALUE, filler.data(), filler.size()}};
    CK_OBJECT_HANDLE o;
    CK_RV rv = f->C_CreateObject(s, t, 5, &o);
    if (rv != CKR_OK) {
      std::printf("failed 0x%lx\n", rv);
      return 7;
    }
    std::printf("created %ld\n", i);
    std::fflush(stdout);
  }
  f->C_Finalize(nullptr);
  return 0;
}
