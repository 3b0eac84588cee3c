# Static analysis as tests: clang-tidy (.clang-tidy) and cppcheck over the
# program's own code, and the layout that .clang-format gives every C++ file.

set(lint_sources
  src/id3v23fix.cpp src/scan/id3v23scan.cpp src/scan/tag_file-posix.cpp src/scan/tag_layout.cpp
  rtl/classes-posix.cpp rtl/report-posix.cpp rtl/report.cpp rtl/system-posix.cpp rtl/system.cpp
  rtl/sysutils.cpp rtl/wtf8.cpp)
file(GLOB_RECURSE formatted_sources RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h
     ${PROJECT_SOURCE_DIR}/rtl/*.cpp ${PROJECT_SOURCE_DIR}/rtl/*.h
     ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h)

find_program(ID3V23FIX_CLANG_TIDY clang-tidy)
find_program(ID3V23FIX_CPPCHECK cppcheck)
find_program(ID3V23FIX_CLANG_FORMAT clang-format)
foreach(tool CLANG_TIDY CPPCHECK CLANG_FORMAT)
  if(NOT ID3V23FIX_${tool})
    message(WARNING "No ${tool}, so its check is not run: run tests/install-deps.sh")
  endif()
endforeach()

if(ID3V23FIX_CLANG_TIDY)
  # The compile commands of this build tell it how each file is compiled.
  add_test(NAME lint.ClangTidy
           COMMAND ${ID3V23FIX_CLANG_TIDY} -p ${PROJECT_BINARY_DIR} --quiet ${lint_sources}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endif()
if(ID3V23FIX_CPPCHECK)
  add_test(NAME lint.Cppcheck
           COMMAND ${ID3V23FIX_CPPCHECK} --std=c++20 --language=c++ --error-exitcode=1 --quiet
                   --enable=warning,style,performance,portability --inline-suppr
                   --suppress=missingIncludeSystem --suppress=useStlAlgorithm
                   -I ${PROJECT_SOURCE_DIR} ${lint_sources}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endif()
if(ID3V23FIX_CLANG_FORMAT)
  add_test(NAME lint.ClangFormat
           COMMAND ${ID3V23FIX_CLANG_FORMAT} --dry-run -Werror ${formatted_sources}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endif()
