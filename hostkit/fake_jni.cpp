#include "fake_jni.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace fakejni {

struct FakeObject {
    enum Kind { Class, String, IntArray, Throwable } kind;
    std::string text;
    std::vector<jint> ints;
    bool local = false;
    bool deleted = false;
};

struct FakeJni::EnvHolder {
    JNIEnv_ env; // first, so that a JNIEnv* is also an EnvHolder*
    FakeJni* owner;
    JNINativeInterface_ table;
};

namespace {

FakeJni* owner(JNIEnv* env) {
    return reinterpret_cast<FakeJni::EnvHolder*>(env)->owner;
}

// Any slot the library has no business calling lands here.
void unexpectedCall() {
    fprintf(stderr, "fake JNI: the library called a JNI function the tests do not expect\n");
    abort();
}

jmethodID JNICALL getStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return owner(env)->lookupStatic(cls, name, sig);
}

jstring JNICALL newStringUTF(JNIEnv* env, const char* utf) {
    FakeJni* jni = owner(env);
    jni->checkNoPending("NewStringUTF");
    if (!utf) {
        jni->violation("NewStringUTF with a null string");
        return nullptr;
    }
    jni->record(std::string("NewStringUTF ") + utf);
    auto object = std::make_unique<FakeObject>();
    object->kind = FakeObject::String;
    object->text = utf;
    return static_cast<jstring>(jni->makeLocal(std::move(object)));
}

jobject JNICALL callStaticObjectMethodV(JNIEnv* env, jclass, jmethodID method, va_list args) {
    FakeJni* jni = owner(env);
    jni->checkNoPending("CallStaticObjectMethod");
    jni->record("CallStaticObjectMethod");
    if (!method) {
        jni->violation("CallStaticObjectMethod with a null method");
        return nullptr;
    }
    jstring key = va_arg(args, jstring);
    jstring def = va_arg(args, jstring);
    return jni->callGetProperty(key, def);
}

jobject JNICALL callStaticObjectMethod(JNIEnv* env, jclass cls, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    jobject result = callStaticObjectMethodV(env, cls, method, args);
    va_end(args);
    return result;
}

const char* JNICALL getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    if (isCopy)
        *isCopy = JNI_TRUE;
    return owner(env)->takeChars(string);
}

void JNICALL releaseStringUTFChars(JNIEnv* env, jstring string, const char* chars) {
    owner(env)->giveChars(string, chars);
}

jsize JNICALL getArrayLength(JNIEnv* env, jarray array) {
    return owner(env)->arrayLength(array);
}

jint* JNICALL getIntArrayElements(JNIEnv* env, jintArray array, jboolean* isCopy) {
    if (isCopy)
        *isCopy = JNI_TRUE;
    return owner(env)->takeElements(array);
}

void JNICALL releaseIntArrayElements(JNIEnv* env, jintArray array, jint* elements, jint mode) {
    owner(env)->giveElements(array, elements, mode);
}

jboolean JNICALL exceptionCheck(JNIEnv* env) {
    FakeJni* jni = owner(env);
    jni->record("ExceptionCheck");
    return jni->exceptionPending() ? JNI_TRUE : JNI_FALSE;
}

void JNICALL exceptionClear(JNIEnv* env) {
    FakeJni* jni = owner(env);
    jni->record("ExceptionClear");
    jni->clearException();
}

void JNICALL deleteLocalRef(JNIEnv* env, jobject ref) {
    FakeJni* jni = owner(env);
    jni->record("DeleteLocalRef");
    jni->deleteLocal(ref);
}

} // namespace

FakeJni::FakeJni() : holder_(new EnvHolder) {
    void** slots = reinterpret_cast<void**>(&holder_->table);
    for (size_t i = 0; i < sizeof(JNINativeInterface_) / sizeof(void*); i++)
        slots[i] = reinterpret_cast<void*>(&unexpectedCall);
    JNINativeInterface_& t = holder_->table;
    t.reserved0 = t.reserved1 = t.reserved2 = t.reserved3 = nullptr;
    t.GetStaticMethodID = getStaticMethodID;
    t.NewStringUTF = newStringUTF;
    t.CallStaticObjectMethod = callStaticObjectMethod;
    t.CallStaticObjectMethodV = callStaticObjectMethodV;
    t.GetStringUTFChars = getStringUTFChars;
    t.ReleaseStringUTFChars = releaseStringUTFChars;
    t.GetArrayLength = getArrayLength;
    t.GetIntArrayElements = getIntArrayElements;
    t.ReleaseIntArrayElements = releaseIntArrayElements;
    t.ExceptionCheck = exceptionCheck;
    t.ExceptionClear = exceptionClear;
    t.DeleteLocalRef = deleteLocalRef;
    holder_->env.functions = &holder_->table;
    holder_->owner = this;

    auto cls = std::make_unique<FakeObject>();
    cls->kind = FakeObject::Class;
    cls->text = "org/quencommunity/tovix/TovixAPI";
    class_ = cls.get();
    objects_.push_back(std::move(cls));
}

FakeJni::~FakeJni() {
    for (auto& entry : taken_) {
        if (entry.second->kind == FakeObject::String)
            free(const_cast<void*>(entry.first));
        else
            delete[] static_cast<const jint*>(entry.first);
    }
}

JNIEnv* FakeJni::env() {
    return &holder_->env;
}

jclass FakeJni::hostClass() {
    return reinterpret_cast<jclass>(class_);
}

void FakeJni::setProperty(const std::string& key, const std::string& value) {
    settings_[key] = value;
}

void FakeJni::clearProperty(const std::string& key) {
    settings_.erase(key);
}

int FakeJni::propertyReads(const std::string& key) const {
    auto it = reads_.find(key);
    return it == reads_.end() ? 0 : it->second;
}

jstring FakeJni::newString(const std::string& modifiedUtf8) {
    auto object = std::make_unique<FakeObject>();
    object->kind = FakeObject::String;
    object->text = modifiedUtf8;
    jstring ref = reinterpret_cast<jstring>(object.get());
    objects_.push_back(std::move(object));
    return ref;
}

jintArray FakeJni::newIntArray(const std::vector<jint>& values) {
    auto object = std::make_unique<FakeObject>();
    object->kind = FakeObject::IntArray;
    object->ints = values;
    jintArray ref = reinterpret_cast<jintArray>(object.get());
    objects_.push_back(std::move(object));
    return ref;
}

std::vector<jint> FakeJni::intArray(jintArray array) const {
    return object(array)->ints;
}

std::vector<std::string> FakeJni::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : calls_)
        if (call.compare(0, prefix.size(), prefix) == 0)
            out.push_back(call);
    return out;
}

void FakeJni::record(const std::string& call) {
    calls_.push_back(call);
}

void FakeJni::checkNoPending(const char* call) {
    if (pendingException_)
        violation(std::string(call) + " called with an exception pending");
}

FakeObject* FakeJni::object(jobject ref) const {
    FakeObject* object = reinterpret_cast<FakeObject*>(ref);
    for (const auto& owned : objects_)
        if (owned.get() == object)
            return object;
    return nullptr;
}

jobject FakeJni::makeLocal(std::unique_ptr<FakeObject> object) {
    object->local = true;
    jobject ref = reinterpret_cast<jobject>(object.get());
    objects_.push_back(std::move(object));
    if (++liveLocals_ > maxLiveLocals_)
        maxLiveLocals_ = liveLocals_;
    return ref;
}

void FakeJni::deleteLocal(jobject ref) {
    if (!ref)
        return;
    FakeObject* o = object(ref);
    if (!o || !o->local || o->deleted) {
        violation("DeleteLocalRef of a reference that is not a live local one");
        return;
    }
    o->deleted = true;
    liveLocals_--;
}

jmethodID FakeJni::lookupStatic(jclass cls, const char* name, const char* sig) {
    checkNoPending("GetStaticMethodID");
    record(std::string("GetStaticMethodID ") + (name ? name : "(null)"));
    if (object(cls) != class_)
        violation("GetStaticMethodID on something that is not the host class");
    if (hasGetProperty_ && name && sig && strcmp(name, "getProperty") == 0 &&
        strcmp(sig, "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;") == 0)
        return reinterpret_cast<jmethodID>(this);
    pendingException_ = true; // NoSuchMethodError
    return nullptr;
}

jobject FakeJni::callGetProperty(jstring key, jstring def) {
    FakeObject* k = object(key);
    FakeObject* d = object(def);
    if (!k || !d || k->kind != FakeObject::String || d->kind != FakeObject::String) {
        violation("getProperty called without two strings");
        return nullptr;
    }
    reads_[k->text]++;
    if (throwKeys_.count(k->text)) {
        pendingException_ = true;
        return nullptr;
    }
    if (nullKeys_.count(k->text))
        return nullptr;
    auto it = settings_.find(k->text);
    auto object = std::make_unique<FakeObject>();
    object->kind = FakeObject::String;
    object->text = it == settings_.end() ? d->text : it->second;
    return makeLocal(std::move(object));
}

const char* FakeJni::takeChars(jstring string) {
    checkNoPending("GetStringUTFChars");
    FakeObject* o = object(string);
    if (!o || o->kind != FakeObject::String || o->deleted) {
        violation("GetStringUTFChars on something that is not a live string");
        return nullptr;
    }
    record("GetStringUTFChars " + o->text);
    if (failStringChars_ || failCharsOf_.count(o->text)) {
        pendingException_ = true; // OutOfMemoryError
        return nullptr;
    }
    char* chars = strdup(o->text.c_str());
    taken_[chars] = o;
    return chars;
}

void FakeJni::giveChars(jstring string, const char* chars) {
    FakeObject* o = object(string);
    auto it = taken_.find(chars);
    if (!o || it == taken_.end() || it->second != o) {
        violation("ReleaseStringUTFChars of characters not taken from that string");
        return;
    }
    record("ReleaseStringUTFChars " + o->text);
    taken_.erase(it);
    free(const_cast<char*>(chars));
}

jsize FakeJni::arrayLength(jarray array) {
    checkNoPending("GetArrayLength");
    record("GetArrayLength");
    FakeObject* o = object(array);
    if (!o || o->kind != FakeObject::IntArray) {
        violation("GetArrayLength on something that is not an array");
        return 0;
    }
    return static_cast<jsize>(o->ints.size());
}

jint* FakeJni::takeElements(jintArray array) {
    checkNoPending("GetIntArrayElements");
    record("GetIntArrayElements");
    FakeObject* o = object(array);
    if (!o || o->kind != FakeObject::IntArray) {
        violation("GetIntArrayElements on something that is not an int array");
        return nullptr;
    }
    if (failArrayElements_) {
        pendingException_ = true; // OutOfMemoryError
        return nullptr;
    }
    // malloc, not new: tests that make large allocations fail mean the
    // library's, not the VM's.
    jint* elements = static_cast<jint*>(malloc((o->ints.size() + 1) * sizeof(jint)));
    std::copy(o->ints.begin(), o->ints.end(), elements);
    taken_[elements] = o;
    return elements;
}

void FakeJni::giveElements(jintArray array, jint* elements, jint mode) {
    FakeObject* o = object(array);
    auto it = taken_.find(elements);
    if (!o || it == taken_.end() || it->second != o) {
        violation("ReleaseIntArrayElements of elements not taken from that array");
        return;
    }
    record("ReleaseIntArrayElements mode=" + std::to_string(mode));
    if (mode == 0 || mode == JNI_COMMIT)
        std::copy(elements, elements + o->ints.size(), o->ints.begin());
    if (mode != JNI_COMMIT) {
        taken_.erase(it);
        free(elements);
    }
}

} // namespace fakejni
