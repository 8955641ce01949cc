# Convenience targets; the build itself is CMake.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all demo check deps deps-build build clean sanitize tsan fuzz install

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTAPELENS_WERROR=ON $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# Builds tapelens and converts the bundled sample file to text.
demo: deps-build
	$(MAKE) $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS) --target tapelens
	./$(BUILD)/tapelens samples/sample.bdt

# Installs what the tests need, builds everything and runs every test.
check: deps build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

deps:
	bash tools/install-deps.sh

deps-build:
	bash tools/install-deps.sh --build

# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer: any report (memory error, leak, undefined
# behaviour) ends the process with status 86 and fails the test it happened
# in. The slow peak-memory test is left out: its figure means nothing here.
# Warnings are not errors in this build (the plain build enforces them): GCC
# warns falsely about the standard headers under the sanitizers.
ASAN_BUILD ?= build-asan
SANITIZER_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:exitcode=86:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=86
sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPELENS_WERROR=OFF -DTAPELENS_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS) -LE slow

# The conversions on several threads under ThreadSanitizer (build-tsan/):
# the unit tests, every end-to-end case on four threads, and the SQLite and
# PostgreSQL loads (rows converted on one thread, written on another, and
# for PostgreSQL sent and tables made on two more); any data race ends the
# process with status 66 and fails the test it happened in.
TSAN_BUILD ?= build-tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPELENS_WERROR=OFF -DTAPELENS_TSAN=ON $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target tapelens tapelens_test gen_sample
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:exitcode=66 ctest --output-on-failure -j$(JOBS) -R '^(unit|case-jobs/|case/jobs-|load/sqlite$$|load/postgres$$)'

# Builds the libFuzzer harnesses with clang and runs each for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz:
	bash tools/fuzz.sh $(FUZZ_SECONDS)

# Installs the program, its manual page and its bash completion under PREFIX
# (staged under DESTDIR when given, as packagers do).
PREFIX ?= /usr/local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
