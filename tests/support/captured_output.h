#pragma once

// GoogleTest's capture of standard output and error, by their short names.

#include <gtest/gtest.h>

namespace bv {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

}  // namespace bv
