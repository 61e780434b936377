// Small applications for the end-to-end tests of the standard boot class,
// one class each; none is public, as java allows for a main class.
import java.io.File;

// Prints what the boot class gave it.
class Props {
    public static void main(String[] args) {
        String temp = System.getProperty("glimvane.temp");
        System.out.println("exe=" + System.getProperty("glimvane.exe"));
        System.out.println("temp=" + temp);
        System.out.println("z=" + System.getProperty("glimvane.z"));
        System.out.println("boot class in temp=" + new File(temp, "glimvaneboot.class").isFile());
        for (String word : args) System.out.println("word=" + word);
    }
}

class Thrower {
    public static void main(String[] args) {
        fail();
    }

    static void fail() {
        throw new IllegalStateException("boom");
    }
}

class Init {
    static final int value = Integer.parseInt("not a number");

    public static void main(String[] args) {}
}

class IntMain {
    public static int main(String[] args) {
        return 0;
    }
}

class InstanceMain {
    public void main(String[] args) {}
}

class NoArgsMain {
    public static void main() {}
}

// The jar leaves Gone out: Orphan cannot be loaded.
class Gone {}

class Orphan extends Gone {
    public static void main(String[] args) {}
}

// Calls the standard boot class as a launcher that does not bind its
// natives would: args[0] is the Vars text, lines separated by '|'.
class CallBoot {
    public static void main(String[] args) throws Exception {
        String[] a = {"R", "/app/demo", "/tmp/run", args[0].replace('|', '\n'), ""};
        Object result = Class.forName("glimvaneboot").getMethod("boot", String[].class).invoke(null, (Object) a);
        System.out.println("result=" + result);
    }
}

// Runs until the file its first word names exists (a minute at most): a
// launch that stays in use while a test looks at it.
class Pause {
    public static void main(String[] args) throws InterruptedException {
        File go = new File(args[0]);
        for (int i = 0; i < 3000 && !go.exists(); i++) Thread.sleep(20);
    }
}

// Says whether the packed file its first word names is in the folder of
// the property glimvane.files (a fast-start package's cache folder).
class PackedFile {
    public static void main(String[] args) {
        String folder = System.getProperty("glimvane.files");
        System.out.println("files=" + folder + " found=" + (folder != null && new File(folder, args[0]).isFile()));
    }
}

// What a program sees of how it was started, one "key=value" line each:
// whether it has a console, its name for jps, the class of the bottom frame
// of its thread (the X11 toolkit's WM_CLASS) and its library path. With a
// first word load=NAME, it loads that library too.
class Facts {
    public static void main(String[] args) {
        System.out.println("console=" + (System.console() != null));
        System.out.println("command=" + System.getProperty("sun.java.command"));
        StackTraceElement[] trace = new Throwable().getStackTrace();
        System.out.println("bottom=" + trace[trace.length - 1].getClassName());
        System.out.println("library.path=" + System.getProperty("java.library.path"));
        if (args.length > 0 && args[0].startsWith("load=")) {
            String name = args[0].substring(5);
            System.loadLibrary(name);
            System.out.println("loaded=" + name);
        }
    }
}

// Alternates standard output and standard error, each line flushed.
class Alternate {
    public static void main(String[] args) {
        for (int i = 0; i < 50; i++) {
            System.out.println("out " + i);
            System.err.println("err " + i);
        }
    }
}
