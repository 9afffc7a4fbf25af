# Third-party packages. The Windows cross build finds header-only fmt and CLI11 through
# KELVARA_CROSS_INCLUDE (a folder holding just fmt/ and CLI/).
if(WIN32)
    if(NOT KELVARA_CROSS_INCLUDE)
        message(FATAL_ERROR "Set KELVARA_CROSS_INCLUDE to a folder holding fmt/ and CLI/")
    endif()
    add_library(kelvara_fmt INTERFACE)
    target_include_directories(kelvara_fmt SYSTEM INTERFACE ${KELVARA_CROSS_INCLUDE})
    add_library(fmt::fmt ALIAS kelvara_fmt)
    add_library(kelvara_cli11 INTERFACE)
    target_include_directories(kelvara_cli11 SYSTEM INTERFACE ${KELVARA_CROSS_INCLUDE})
    add_library(CLI11::CLI11 ALIAS kelvara_cli11)
else()
    find_package(fmt REQUIRED)
    find_package(CLI11 REQUIRED)
endif()

if(KELVARA_TESTS)
    find_package(GTest REQUIRED)
endif()

if(KELVARA_WITH_QT)
    find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport Test)
endif()
