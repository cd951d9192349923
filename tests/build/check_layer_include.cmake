# Compiles one line, #include "HEADER", the way a source file of a layer is compiled (with
# INCLUDES, that layer's include path), and checks that the build takes it or refuses it:
#
#   cmake -DCOMPILER=... -DINCLUDES=a;b -DHEADER=app/app.h -DEXPECT=refused|ok
#         -DPROBE=<file> -P check_layer_include.cmake
file(WRITE "${PROBE}" "#include \"${HEADER}\"\n")
set(flags)
foreach(dir ${INCLUDES})
    list(APPEND flags "-I${dir}")
endforeach()
execute_process(COMMAND "${COMPILER}" -std=c++17 -fsyntax-only ${flags} "${PROBE}"
                RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_VARIABLE output)
if(EXPECT STREQUAL "ok")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${HEADER} should build here but does not:\n${errors}")
    endif()
elseif(result EQUAL 0)
    message(FATAL_ERROR "${HEADER} builds here; the layer must not see it")
elseif(NOT errors MATCHES "${HEADER}: No such file or directory")
    message(FATAL_ERROR "${HEADER} fails for another reason than not being seen:\n${errors}")
else()
    message(STATUS "refused as it should be: ${errors}")
endif()
