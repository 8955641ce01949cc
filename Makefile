# Convenience targets; the build itself is CMake.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all demo check deps build clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTAPELENS_WERROR=ON $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# Builds tapelens and converts the bundled sample file to text.
demo: build
	./$(BUILD)/tapelens samples/sample.bdt

# Installs what the tests need, builds everything and runs every test.
check: deps build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

deps:
	bash tools/install-deps.sh

clean:
	rm -rf $(BUILD)
