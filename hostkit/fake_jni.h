// A JNI environment for tests: Java strings, int arrays and the host class
// with its static getProperty, recording every JNI call the library makes
// so that tests can check what was taken and given back, and in what order.
#pragma once

#include <jni.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fakejni {

struct FakeObject;

class FakeJni {
  public:
    FakeJni();
    ~FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JNIEnv* env();
    // The host class, whose static getProperty answers from the settings.
    jclass hostClass();

    // ---- The host's settings and how its getProperty behaves ----
    void setProperty(const std::string& key, const std::string& value);
    void clearProperty(const std::string& key);
    void setHasGetProperty(bool present) { hasGetProperty_ = present; }
    void answerNullFor(const std::string& key) { nullKeys_.insert(key); }
    void throwFor(const std::string& key) { throwKeys_.insert(key); }
    // How often the host's getProperty was asked for `key`.
    int propertyReads(const std::string& key) const;

    // ---- Host objects handed to natives ----
    jstring newString(const std::string& modifiedUtf8);
    jintArray newIntArray(const std::vector<jint>& values);
    // What the array holds now (after the library gave its elements back).
    std::vector<jint> intArray(jintArray array) const;

    // Make every later Get*Chars / Get*Elements answer null with an
    // OutOfMemoryError pending, as the VM does when it runs out of memory;
    // failCharsOf does so only for strings holding `text`.
    void failStringChars(bool fail) { failStringChars_ = fail; }
    void failArrayElements(bool fail) { failArrayElements_ = fail; }
    void failCharsOf(const std::string& text) { failCharsOf_.insert(text); }

    // ---- What happened ----
    // Every JNI call, e.g. "GetStaticMethodID getProperty",
    // "NewStringUTF version", "CallStaticObjectMethod", "GetStringUTFChars
    // <text>", "ReleaseStringUTFChars <text>", "GetArrayLength",
    // "GetIntArrayElements", "ReleaseIntArrayElements mode=0",
    // "ExceptionCheck", "ExceptionClear", "DeleteLocalRef".
    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    // Calls matching a prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;
    // Strings and arrays taken and not given back.
    int outstanding() const { return static_cast<int>(taken_.size()); }
    // Misuse of the JNI: a call made while an exception is pending, a
    // release of something not taken, a null string handed to the VM.
    const std::vector<std::string>& violations() const { return violations_; }
    bool exceptionPending() const { return pendingException_; }
    // The most local references alive at once that the library made.
    int maxLiveLocals() const { return maxLiveLocals_; }
    int liveLocals() const { return liveLocals_; }

    // ---- Used by the function table ----
    void record(const std::string& call);
    void violation(const std::string& what) { violations_.push_back(what); }
    void checkNoPending(const char* call);
    FakeObject* object(jobject ref) const;
    jobject makeLocal(std::unique_ptr<FakeObject> object);
    void deleteLocal(jobject ref);
    jmethodID lookupStatic(jclass cls, const char* name, const char* sig);
    jobject callGetProperty(jstring key, jstring def);
    const char* takeChars(jstring string);
    void giveChars(jstring string, const char* chars);
    jsize arrayLength(jarray array);
    jint* takeElements(jintArray array);
    void giveElements(jintArray array, jint* elements, jint mode);
    void clearException() { pendingException_ = false; }

    struct EnvHolder;

  private:
    std::unique_ptr<EnvHolder> holder_;
    std::vector<std::unique_ptr<FakeObject>> objects_;
    FakeObject* class_;
    std::map<std::string, std::string> settings_;
    std::map<std::string, int> reads_;
    std::set<std::string> nullKeys_;
    std::set<std::string> throwKeys_;
    std::set<std::string> failCharsOf_;
    bool hasGetProperty_ = true;
    bool failStringChars_ = false;
    bool failArrayElements_ = false;
    bool pendingException_ = false;
    std::vector<std::string> calls_;
    std::vector<std::string> violations_;
    std::map<const void*, FakeObject*> taken_;
    int liveLocals_ = 0;
    int maxLiveLocals_ = 0;
};

} // namespace fakejni
