# Finds a JDK for the Java binding and sets VOKAPI_JAVA: on by default when
# one is found.  The binding needs jni.h (its native methods are built into
# the vokapi library, which does not link the Java virtual machine) and
# javac with jar (the package is built into vokapi.jar).

# A cross build for Windows cannot use the build machine's JDK (its jni_md.h
# and its JVM are those of the build machine), and this machine has no
# Windows JDK: the binding is left out and the build says so.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  if(VOKAPI_JAVA)
    message(WARNING "VOKAPI_JAVA is on, but the Java binding is not built in a cross build for Windows")
  endif()
  set(VOKAPI_JAVA OFF CACHE BOOL "Build the Java binding (native methods and vokapi.jar)" FORCE)
  message(STATUS "Java binding: off (not built for Windows in a cross build: no Windows JDK)")
  return()
endif()

# FindJNI and FindJava look in JAVA_HOME and a list of known places, which
# misses some JDK layouts; a javac on the search path tells where its JDK is.
if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(VOKAPI_JAVAC_PROGRAM javac)
  if(VOKAPI_JAVAC_PROGRAM)
    get_filename_component(_vokapi_javac "${VOKAPI_JAVAC_PROGRAM}" REALPATH)
    get_filename_component(_vokapi_jdk_bin "${_vokapi_javac}" DIRECTORY)
    get_filename_component(_vokapi_jdk "${_vokapi_jdk_bin}" DIRECTORY)
    if(EXISTS "${_vokapi_jdk}/include/jni.h")
      set(JAVA_HOME "${_vokapi_jdk}")
      set(ENV{JAVA_HOME} "${_vokapi_jdk}")
    endif()
  endif()
endif()

find_package(Java 11 COMPONENTS Development QUIET)
find_package(JNI QUIET)

set(VOKAPI_JDK_FOUND OFF)
if(Java_FOUND AND Java_JAVAC_EXECUTABLE AND Java_JAR_EXECUTABLE AND JAVA_INCLUDE_PATH AND JAVA_INCLUDE_PATH2)
  set(VOKAPI_JDK_FOUND ON)
endif()

option(VOKAPI_JAVA "Build the Java binding (native methods and vokapi.jar)" ${VOKAPI_JDK_FOUND})

if(VOKAPI_JAVA)
  if(NOT VOKAPI_JDK_FOUND)
    message(FATAL_ERROR "VOKAPI_JAVA is on, but no JDK (javac, jar and jni.h) was found: set JAVA_HOME "
                        "or turn VOKAPI_JAVA off")
  endif()
  set(VOKAPI_JNI_INCLUDE_DIRS ${JAVA_INCLUDE_PATH} ${JAVA_INCLUDE_PATH2})
  message(STATUS "Java binding: on (JDK ${Java_VERSION_STRING}, jni.h in ${JAVA_INCLUDE_PATH})")
else()
  message(STATUS "Java binding: off")
endif()
