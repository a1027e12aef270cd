# Everything a fresh machine needs goes through these targets.
JOBS ?= 2

.PHONY: all build check check-default check-asan demo clean

all: build

build:
	cmake --preset default
	cmake --build --preset default -j$(JOBS)

check: check-default check-asan

check-default:
	cmake --preset default
	cmake --build --preset default -j$(JOBS)
	ctest --preset default -j$(JOBS)

check-asan:
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan -j$(JOBS)

demo: build
	cd build/default && mkdir -p demo && cd demo && \
	  java -Djava.library.path=../lib -cp ../lib/tovixhost.jar org.quencommunity.tovix.demo.Demo .

clean:
	rm -rf build
