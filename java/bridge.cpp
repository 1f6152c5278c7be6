// The JNI entry points of class VornNative. Each one turns its Java
// arguments into the VM model's strings and arrays and calls the raw export,
// so a Java caller goes through the same conversion layer as every other.
//
// Java strings become UTF-8 bytes (from their UTF-16 characters, not JNI's
// modified UTF-8, whose zero and supplementary characters the file system
// would not understand). A null argument, a string with an unpaired
// surrogate, or memory that cannot be had gives 0 without calling the method.
// The methods change the current directory and keep module-wide state, so
// one mutex lets only one of them run at a time.
#include <jni.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "java/utf8.h"
#include "native/VornNative.h"
#include "vm/vm.h"

namespace {

[[maybe_unused]] std::mutex callLock;

// A Java string as a VM string of UTF-8 bytes; not valid() for a null
// string, an unpaired surrogate or exhausted memory.
class JavaString {
public:
    JavaString(JNIEnv* env, jstring string) {
        if (string == nullptr || env->ExceptionCheck()) return;
        jsize length = env->GetStringLength(string);
        const jchar* characters = env->GetStringChars(string, nullptr);
        if (characters == nullptr) return;
        Utf8Text text;
        int converted = text.convert(reinterpret_cast<const std::uint16_t*>(characters), length);
        env->ReleaseStringChars(string, characters);
        if (!converted) return;
        local = new (std::nothrow) vm::LocalString(text.bytes(), text.size());
    }
    ~JavaString() { delete local; }
    JavaString(const JavaString&) = delete;
    JavaString& operator=(const JavaString&) = delete;

    bool valid() const { return local != nullptr && local->valid(); }
    vm::Handle handle() const { return local->handle(); }

private:
    vm::LocalString* local = nullptr;
};

[[maybe_unused]] bool allValid(const JavaString& a) { return a.valid(); }
[[maybe_unused]] bool allValid(const JavaString& a, const JavaString& b) { return a.valid() && b.valid(); }

#if VORN_HAVE_MAKECAB
// A Java String[] as a VM array of VM strings; not valid() for a null array,
// a null or unconvertible element, or exhausted memory.
class JavaStringArray {
public:
    JavaStringArray(JNIEnv* env, jobjectArray array) {
        if (array == nullptr) return;
        jsize length = env->GetArrayLength(array);
        strings = static_cast<JavaString**>(std::calloc(length > 0 ? static_cast<std::size_t>(length) : 1,
                                                        sizeof(JavaString*)));
        handles = static_cast<vm::Handle*>(std::calloc(length > 0 ? static_cast<std::size_t>(length) : 1,
                                                       sizeof(vm::Handle)));
        if (strings == nullptr || handles == nullptr) return;
        for (jsize i = 0; i < length; ++i) {
            if (env->ExceptionCheck()) return;
            auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
            if (element == nullptr) return;
            strings[i] = new (std::nothrow) JavaString(env, element);
            env->DeleteLocalRef(element);
            count = i + 1;
            if (strings[i] == nullptr || !strings[i]->valid()) return;
            handles[i] = strings[i]->handle();
        }
        block = new (std::nothrow) vm::StringArray(handles, length);
    }
    ~JavaStringArray() {
        delete block;
        for (jsize i = 0; i < count; ++i) delete strings[i];
        std::free(strings);
        std::free(handles);
    }
    JavaStringArray(const JavaStringArray&) = delete;
    JavaStringArray& operator=(const JavaStringArray&) = delete;

    bool valid() const { return block != nullptr && block->valid(); }
    vm::Handle handle() const { return block->handle(); }

private:
    JavaString** strings = nullptr;
    vm::Handle* handles = nullptr;
    jsize count = 0;
    vm::StringArray* block = nullptr;
};
#endif

#if VORN_HAVE_SAVEJPEG
// A Java int[] as a VM array block whose length word is the array's length.
class JavaIntArray {
public:
    JavaIntArray(JNIEnv* env, jintArray array) {
        if (array == nullptr) return;
        jsize length = env->GetArrayLength(array);
        block = new (std::nothrow) vm::IntArray(length);
        if (block == nullptr || !block->valid()) return;
        if (length > 0) env->GetIntArrayRegion(array, 0, length, reinterpret_cast<jint*>(block->elements()));
        copied = !env->ExceptionCheck();
    }
    ~JavaIntArray() { delete block; }
    JavaIntArray(const JavaIntArray&) = delete;
    JavaIntArray& operator=(const JavaIntArray&) = delete;

    bool valid() const { return copied; }
    vm::Handle handle() const { return block->handle(); }

private:
    vm::IntArray* block = nullptr;
    bool copied = false;
};
#endif

}  // namespace

#if VORN_HAVE_COPYTOCLIPBOARD
extern "C" JNIEXPORT jint JNICALL Java_VornNative_copyToClipboard(JNIEnv* env, jclass, jstring text) {
    JavaString vmText(env, text);
    if (!allValid(vmText)) return 0;
    std::lock_guard<std::mutex> hold(callLock);
    return VornNative_copyToClipboard(0, vmText.handle());
}
#endif

#if VORN_HAVE_SHOWFILE
extern "C" JNIEXPORT jint JNICALL Java_VornNative_showFile(JNIEnv* env, jclass, jstring directory, jstring file) {
    JavaString vmDirectory(env, directory);
    JavaString vmFile(env, file);
    if (!allValid(vmDirectory, vmFile)) return 0;
    std::lock_guard<std::mutex> hold(callLock);
    return VornNative_showFile(0, vmDirectory.handle(), vmFile.handle());
}
#endif

#if VORN_HAVE_MAKECAB
extern "C" JNIEXPORT jint JNICALL Java_VornNative_makeCab(JNIEnv* env, jclass, jobjectArray entries,
                                                          jstring cabDirectory, jstring cabName) {
    JavaStringArray vmEntries(env, entries);
    JavaString vmDirectory(env, cabDirectory);
    JavaString vmName(env, cabName);
    if (!vmEntries.valid() || !allValid(vmDirectory, vmName)) return 0;
    std::lock_guard<std::mutex> hold(callLock);
    return VornNative_makeCab(0, vmEntries.handle(), vmDirectory.handle(), vmName.handle());
}
#endif

#if VORN_HAVE_MAKETRANSPARENT
extern "C" JNIEXPORT jint JNICALL Java_VornNative_makeTransparent(JNIEnv* env, jclass, jstring gifFile) {
    JavaString vmFile(env, gifFile);
    if (!allValid(vmFile)) return 0;
    std::lock_guard<std::mutex> hold(callLock);
    return VornNative_makeTransparent(0, vmFile.handle());
}
#endif

#if VORN_HAVE_SAVEJPEG
extern "C" JNIEXPORT jint JNICALL Java_VornNative_saveJPEG(JNIEnv* env, jclass, jstring jpegFile, jintArray pixels,
                                                           jint width, jint height) {
    JavaString vmFile(env, jpegFile);
    JavaIntArray vmPixels(env, pixels);
    if (!allValid(vmFile) || !vmPixels.valid()) return 0;
    std::lock_guard<std::mutex> hold(callLock);
    return VornNative_saveJPEG(0, vmFile.handle(), vmPixels.handle(), width, height);
}
#endif

#if VORN_HAVE_WAV2AU
extern "C" JNIEXPORT jint JNICALL Java_VornNative_wav2au(JNIEnv* env, jclass, jstring wavFile, jstring auFile) {
    JavaString vmWav(env, wavFile);
    JavaString vmAu(env, auFile);
    if (!allValid(vmWav, vmAu)) return 0;
    std::lock_guard<std::mutex> hold(callLock);
    return VornNative_wav2au(0, vmWav.handle(), vmAu.handle());
}
#endif
