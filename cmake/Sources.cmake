# The show's shared sources, relative to the top of the tree: the desktop programs, the fuzz
# build and the web build all compile these lists.

# The readers of files anyone can replace, with what they stand on, come first: the fuzz build
# instruments those alone.
set(LUMENFALL_READER_SOURCES
    jni/src/report/Errors.cpp
    jni/src/loader/Loader.cpp
    jni/src/loader/Asset.cpp
    jni/src/progress/Progress.cpp
    jni/src/program/Program.cpp
    jni/src/texture/Image.cpp
    jni/src/texture/Texture.cpp
    jni/src/sync/SyncTracks.cpp
    jni/src/ife/IfeKey.cpp
    jni/src/ife/Ife.cpp
    jni/src/math/PortableMath.cpp
)
set(LUMENFALL_CORE_SOURCES
    ${LUMENFALL_READER_SOURCES}
    jni/src/camera/Camera.cpp
    jni/src/particles/ParticleSet.cpp
    jni/src/random/Random.cpp
    jni/src/parts/Part.cpp
    jni/src/parts/Part01.cpp
    jni/src/parts/Part02.cpp
    jni/src/parts/Spline.cpp
    jni/src/parts/Part03.cpp
    jni/src/parts/Part04.cpp
    jni/src/parts/Part05.cpp
    jni/demo/Timeline.cpp
    jni/demo/Demo.cpp
    jni/demo/Music.cpp
    jni/demo/WarmUp.cpp
)
