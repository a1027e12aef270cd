// Small guards for what the natives take from the JNI environment, so that
// every path gives back what it took. Each can also give back early, where
// the order of giving back matters.
#pragma once

#include "../platform/java.h"

// The characters of a Java string, in modified UTF-8.
class StringChars {
  public:
    StringChars(JNIEnv* env, jstring string)
        : env_(env), string_(string),
          chars_(string ? env->GetStringUTFChars(string, nullptr) : nullptr) {}
    ~StringChars() { release(); }
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;

    const char* get() const { return chars_; }

    void release() {
        if (chars_)
            env_->ReleaseStringUTFChars(string_, chars_);
        chars_ = nullptr;
    }

  private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

// The elements of a Java int array, given back with mode 0 (copy back and
// free).
class IntArrayElements {
  public:
    IntArrayElements(JNIEnv* env, jintArray array)
        : env_(env), array_(array), elements_(env->GetIntArrayElements(array, nullptr)) {}
    ~IntArrayElements() { release(); }
    IntArrayElements(const IntArrayElements&) = delete;
    IntArrayElements& operator=(const IntArrayElements&) = delete;

    const jint* get() const { return elements_; }

    void release() {
        if (elements_)
            env_->ReleaseIntArrayElements(array_, elements_, 0);
        elements_ = nullptr;
    }

  private:
    JNIEnv* env_;
    jintArray array_;
    jint* elements_;
};

// A local reference, deleted when the guard ends.
class LocalRef {
  public:
    LocalRef(JNIEnv* env, jobject object) : env_(env), object_(object) {}
    ~LocalRef() {
        if (object_)
            env_->DeleteLocalRef(object_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    jobject get() const { return object_; }

  private:
    JNIEnv* env_;
    jobject object_;
};
