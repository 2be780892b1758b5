/* kivPhotoUpload component interface for C and any language that can call C.
 *
 * Load libkivPhotoUpload.so, call DllRegisterServer once to enter the class in
 * the per-user component registry ($XDG_DATA_HOME/kivPhotoUpload/registry), and
 * DllGetClassObject with KIV_CLSID_UPLOAD and KIV_IID_CLASSFACTORY to obtain the
 * class object, whose CreateInstance makes Upload controls on a site of C
 * callbacks. Every call answers a status (kiv_status): 0 success,
 * 0x800A0000 + number for an error of the control (13 type mismatch, 6
 * overflow, ...), or one of the KIV_E_* / KIV_DISP_E_* codes below. Nothing
 * else ever leaves the library. All calls for one control are made on one
 * thread, one at a time. Every call that runs the control holds a reference
 * on it until it returns, so a container may release the control from any
 * callback; the control then goes when that call returns.
 */
#ifndef KIVPHOTOUPLOAD_H
#define KIVPHOTOUPLOAD_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#if defined(KIV_BUILDING_LIBRARY) && defined(_WIN32)
#define KIV_C_EXPORT __declspec(dllexport)
#elif defined(KIV_BUILDING_LIBRARY)
#define KIV_C_EXPORT __attribute__((visibility("default")))
#else
#define KIV_C_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t kiv_status;

#define KIV_S_OK ((kiv_status)0x00000000u)
#define KIV_S_FALSE ((kiv_status)0x00000001u)
#define KIV_E_NOTIMPL ((kiv_status)0x80004001u)
#define KIV_E_NOINTERFACE ((kiv_status)0x80004002u)
#define KIV_E_POINTER ((kiv_status)0x80004003u)
#define KIV_E_FAIL ((kiv_status)0x80004005u)
#define KIV_E_OUTOFMEMORY ((kiv_status)0x8007000Eu)
#define KIV_E_INVALIDARG ((kiv_status)0x80070057u)
#define KIV_CLASS_E_CLASSNOTAVAILABLE ((kiv_status)0x80040111u)
#define KIV_SELFREG_E_CLASS ((kiv_status)0x80040201u) /* registry file not written */
#define KIV_DISP_E_MEMBERNOTFOUND ((kiv_status)0x80020003u) /* member lacks that kind */
#define KIV_DISP_E_TYPEMISMATCH ((kiv_status)0x80020005u)
#define KIV_DISP_E_UNKNOWNNAME ((kiv_status)0x80020006u)   /* no such member or event */
#define KIV_DISP_E_BADPARAMCOUNT ((kiv_status)0x8002000Eu)
#define KIV_CONTROL_ERROR(number) ((kiv_status)(0x800A0000u + (uint32_t)(number)))

/* Identity; these values never change. */
#define KIV_LIBID "{12863A77-9556-410A-B88A-FBAF749D0EE2}"
#define KIV_CLSID_UPLOAD "{57C119E6-3EBF-4ACE-A8E0-0C30DC11F058}"
#define KIV_IID_UPLOAD "{239AAE8D-F3A2-4303-9AC1-EE84CC2F7227}"     /* _Upload */
#define KIV_DIID_UPLOAD_EVENTS "{29A2DE10-2331-45AD-A75A-1D2BDCBAE088}" /* __Upload */
#define KIV_IID_CLASSFACTORY "{00000001-0000-0000-C000-000000000046}"
#define KIV_TYPELIB_NAME "KIVPhotoUpload"
#define KIV_TYPELIB_VERSION "1.0"
#define KIV_TYPELIB_LOCALE 0x0409
#define KIV_FILE_VERSION "2.02.0001"

/* Dispatch ids of _Upload, in interface order, and of the event CloseApp. */
enum kiv_dispid {
  KIV_DISPID_ARRSTRING = 1, KIV_DISPID_OFS, KIV_DISPID_STRHTML, KIV_DISPID_OFOLDER,
  KIV_DISPID_OFOLDERS, KIV_DISPID_OSUBFOLDER, KIV_DISPID_OFILE, KIV_DISPID_SFILES,
  KIV_DISPID_KIVGETFILES, KIV_DISPID_KIVFTPUPLOAD, KIV_DISPID_KIVRESIZEIMAGES,
  KIV_DISPID_IMAGEHEIGHT, KIV_DISPID_IMAGEWIDTH, KIV_DISPID_VEHICLEID, KIV_DISPID_USERID,
  KIV_DISPID_COMPANYID, KIV_DISPID_KIVUSER, KIV_DISPID_KIVPASSWORD, KIV_DISPID_KIVTYPE,
  KIV_DISPID_KIVFTP, KIV_DISPID_KIVWEB, KIV_DISPID_VIN, KIV_DISPID_FULLPATH,
  KIV_DISPID_PRIMARY, KIV_DISPID_PREFERED
};
#define KIV_DISPID_CLOSEAPP 1

/* Invocation kinds (DISPATCH_* values). KIV_DISPATCH_METHOD | KIV_DISPATCH_GET
 * calls a method or reads a property, whichever the member is. */
#define KIV_DISPATCH_METHOD 1
#define KIV_DISPATCH_GET 2
#define KIV_DISPATCH_LET 4
#define KIV_DISPATCH_SET 8

/* A value. Text is NUL-terminated UTF-8 owned by the variant and made with
 * malloc; release with kiv_variant_clear. Booleans are -1 (true) and 0. Objects
 * do not travel: getting oFs and its kin answers the type's name as text, or
 * EMPTY for Nothing; set accepts only EMPTY (Nothing). */
enum kiv_vartype {
  KIV_VT_EMPTY = 0, KIV_VT_I2 = 2, KIV_VT_I4 = 3, KIV_VT_R8 = 5, KIV_VT_STR = 8,
  KIV_VT_BOOL = 11, KIV_VT_STR_ARRAY = 0x2008
};

typedef struct kiv_variant {
  uint16_t vt;
  union {
    int16_t i2;
    int32_t i4;
    double r8;
    int16_t boolean;
    char* str;
    struct {
      char** items;
      size_t count;
    } array;
  } u;
} kiv_variant;

static inline void kiv_variant_init(kiv_variant* v) { memset(v, 0, sizeof *v); }

static inline void kiv_variant_clear(kiv_variant* v) {
  if (v->vt == KIV_VT_STR) {
    free(v->u.str);
  } else if (v->vt == KIV_VT_STR_ARRAY) {
    size_t i;
    for (i = 0; i < v->u.array.count; ++i) free(v->u.array.items[i]);
    free(v->u.array.items);
  }
  kiv_variant_init(v);
}

/* Replaces v's value with a copy of text; KIV_E_OUTOFMEMORY leaves v EMPTY. */
static inline kiv_status kiv_variant_set_string(kiv_variant* v, const char* text) {
  size_t n = strlen(text) + 1;
  char* copy = (char*)malloc(n);
  kiv_variant_clear(v);
  if (copy == NULL) return KIV_E_OUTOFMEMORY;
  memcpy(copy, text, n);
  v->vt = KIV_VT_STR;
  v->u.str = copy;
  return KIV_S_OK;
}

/* Calls from the control to its container. Any pointer may be NULL: a missing
 * message box answers 1 (OK). A non-zero status from property_changed fails the
 * property assignment that caused it: with that status when it is a
 * KIV_CONTROL_ERROR, otherwise with KIV_CONTROL_ERROR(5). */
typedef struct kiv_site {
  void* user;
  void (*repaint)(void* user);
  kiv_status (*property_changed)(void* user, const char* name);
  void (*event)(void* user, const char* name, int32_t dispid);
  int16_t (*message_box)(void* user, const char* prompt, int16_t buttons, const char* title);
} kiv_site;

/* Where a container keeps a control's saved properties, for the control's
 * ReadProperties and WriteProperties. name is a property's key; the variants
 * belong to the library and are valid during the call only.
 * read: *value arrives holding a copy of default_value; leave it for a key
 * that is not stored, or clear and replace it with the stored value (text
 * malloc'd, e.g. with kiv_variant_set_string). The library clears *value
 * afterwards, also when read fails.
 * write: stores value under name; default_value is what read will be offered
 * for that key, so a container may leave out values equal to it.
 * A non-zero status fails the event with that status when it is a
 * KIV_CONTROL_ERROR, otherwise with KIV_CONTROL_ERROR(5). */
typedef struct kiv_property_bag {
  void* user;
  kiv_status (*read)(void* user, const char* name, const kiv_variant* default_value, kiv_variant* value);
  kiv_status (*write)(void* user, const char* name, const kiv_variant* value,
                      const kiv_variant* default_value);
} kiv_property_bag;

typedef struct kiv_upload kiv_upload;
typedef struct kiv_class_factory kiv_class_factory;

typedef struct kiv_upload_vtbl {
  uint32_t (*AddRef)(kiv_upload* self);
  uint32_t (*Release)(kiv_upload* self);
  /* args are in declaration order and in/out: by-reference parameters (the
   * file name of kivFTPUpload and kivResizeImages) are cleared and replaced,
   * so their text must be malloc'd (kiv_variant_set_string). result may be
   * NULL; otherwise it must be initialised and is cleared before it is set. */
  kiv_status (*Invoke)(kiv_upload* self, int32_t dispid, uint16_t kind, kiv_variant* args,
                       size_t count, kiv_variant* result);
  kiv_status (*InvokeByName)(kiv_upload* self, const char* name, uint16_t kind, kiv_variant* args,
                             size_t count, kiv_variant* result);
  /* Case-insensitive lookup of a member's dispatch id. */
  kiv_status (*GetIDOfName)(kiv_upload* self, const char* name, int32_t* dispid);
  /* Delivers a container or child-control event: "Initialize", "InitProperties",
   * "Show", "imgCancel_Click", "imgUploadAll_Click", "imgSelectedPhotos_Click",
   * "Image2_Click" (with index), "VScroll1_Change", "VScroll1_Scroll". index is
   * ignored by the others. ReadProperties and WriteProperties take a bag and
   * have entries of their own below. */
  kiv_status (*Event)(kiv_upload* self, const char* name, int16_t index);
  /* The message of the last failed call on this control; valid until the next call. */
  const char* (*LastError)(kiv_upload* self);
  /* The container events with a property bag. ReadProperties restores the
   * saved properties without property_changed calls; a read failing part-way
   * leaves the keys read before it restored. The bag's read (or write) must
   * not be NULL. */
  kiv_status (*ReadProperties)(kiv_upload* self, const kiv_property_bag* bag);
  kiv_status (*WriteProperties)(kiv_upload* self, const kiv_property_bag* bag);
} kiv_upload_vtbl;

struct kiv_upload {
  const kiv_upload_vtbl* vtbl;
};

typedef struct kiv_class_factory_vtbl {
  uint32_t (*AddRef)(kiv_class_factory* self);
  uint32_t (*Release)(kiv_class_factory* self);
  /* The site is copied; its user pointer must outlive the control. The new
   * control holds one reference. */
  kiv_status (*CreateInstance)(kiv_class_factory* self, const kiv_site* site, kiv_upload** control);
  kiv_status (*LockServer)(kiv_class_factory* self, int lock);
} kiv_class_factory_vtbl;

struct kiv_class_factory {
  const kiv_class_factory_vtbl* vtbl;
};

/* The four entry points. On Windows the library's DllRegisterServer and its
 * kin are those of the component system (regsvr32, CoCreateInstance), so the C
 * face's four carry the prefix kiv_ there: find them with GetProcAddress under
 * KIV_ENTRY_PREFIX "DllRegisterServer" and so on. */
#if defined(_WIN32)
#define KIV_ENTRY_PREFIX "kiv_"
#define KIV_ENTRY(name) kiv_##name
#else
#define KIV_ENTRY_PREFIX ""
#define KIV_ENTRY(name) name
#endif
/* Enters the class in the per-user registry, replacing an earlier record. */
KIV_C_EXPORT kiv_status KIV_ENTRY(DllRegisterServer)(void);
/* Removes the class's record; S_OK also when there was none. */
KIV_C_EXPORT kiv_status KIV_ENTRY(DllUnregisterServer)(void);
/* clsid must be KIV_CLSID_UPLOAD and iid KIV_IID_CLASSFACTORY (braces and case
 * as written there or in any case). *object receives a kiv_class_factory* that
 * holds one reference. */
KIV_C_EXPORT kiv_status KIV_ENTRY(DllGetClassObject)(const char* clsid, const char* iid, void** object);
/* KIV_S_OK when no object made by the library is alive and no lock is held. */
KIV_C_EXPORT kiv_status KIV_ENTRY(DllCanUnloadNow)(void);

typedef kiv_status (*kiv_DllRegisterServer_fn)(void);
typedef kiv_status (*kiv_DllUnregisterServer_fn)(void);
typedef kiv_status (*kiv_DllGetClassObject_fn)(const char*, const char*, void**);
typedef kiv_status (*kiv_DllCanUnloadNow_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* KIVPHOTOUPLOAD_H */
