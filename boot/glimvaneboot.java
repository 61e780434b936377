// The standard boot class that glimvane-pack puts into every package: the
// launcher calls boot() with the launch facts and the user's words, and this
// class starts the application named by the Vars key main.
//
// Elements of the argument array: 0 "R" or "RD" (debug log on), 1 the
// executable's full path, 2 the temp folder of this run, 3 the whole Vars
// text, 4 the Z section offsets (",N,M" or empty), 5 and on the user's words.
//
// Vars keys read here:
//   main      the application's main class (required)
//   windowed  present (any value): the application has a window and no
//             console, so nobody reads standard error. When main throws, the
//             error text, which the launcher shows in its message box, then
//             carries the stack trace too; a console application keeps it to
//             the summary line and the trace goes to standard error only.
//
// Results: null once main has returned normally (the launcher then waits for
// the application's other threads), else a launch error text whose code in
// the 50s tells the launcher that the application is at fault.
//
// Hand-off: when the launcher binds the natives below, boot does not call
// main itself. It hands main's class, method and words to the launcher
// (handMain) and returns null; the launcher calls main from its main thread
// once boot has returned, as java does, so main's frame is the bottom one
// of the thread (the X11 toolkit takes an application's WM_CLASS from that
// frame's class). Should main throw, the launcher calls mainThrew with the
// exception and reports the text it returns (error 54). A package's own boot
// class keeps the plain contract: boot starts the application itself.
//
// Compiled for Java 8 so that every runtime from 8 on loads it.

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

public class glimvaneboot {
    private static final long loaded = System.nanoTime();
    private static boolean debug;
    private static boolean windowedApp;
    private static boolean handed;

    // A windowed application's message box gets at most this many lines of
    // the stack trace: enough to find the fault, small enough to read.
    private static final int box_trace_lines = 25;

    public static String boot(String[] a) {
        debug = element(a, 0).equals("RD");
        String exe = element(a, 1);
        String temp = element(a, 2);
        String vars = element(a, 3);
        String z = element(a, 4);
        System.setProperty("glimvane.exe", exe);
        System.setProperty("glimvane.temp", temp);
        System.setProperty("glimvane.z", z);
        log("boot.exe=" + exe);
        log("boot.temp=" + temp);
        log("boot.z=" + z);

        String[] words = new String[Math.max(0, a.length - 5)];
        if (words.length > 0) System.arraycopy(a, 5, words, 0, words.length);
        boolean windowed = lookup(vars, "windowed") != null;
        windowedApp = windowed;
        String name = lookup(vars, "main");
        log("boot.main=" + (name == null ? "" : name));
        log("boot.windowed=" + windowed);
        log("boot.words=" + words.length);

        String result = start(name, words, windowed);
        if (result != null) log("boot.error=" + firstLine(result));
        else log(handed ? "boot.main.handed" : "boot.main.returned");
        return result;
    }

    private static String start(String name, String[] words, boolean windowed) {
        if (name == null || name.isEmpty())
            return "50: The package names no main class\r\n\r\n"
                + "\tPack it with --main CLASS, which writes the Vars line main=CLASS";

        Class<?> main;
        try {
            main = Class.forName(name, false, ClassLoader.getSystemClassLoader());
        } catch (ClassNotFoundException e) {
            return "51: The main class '" + name + "' was not found\r\n\r\n"
                + "\tCheck the Vars line main=" + name + " (a fully qualified name such as com.example.Main)"
                + " and that a packed jar holds it; class path: " + System.getProperty("java.class.path");
        } catch (LinkageError e) {
            return cannotLoad(name, e);
        }

        Method method;
        try {
            method = main.getMethod("main", String[].class);
        } catch (NoSuchMethodException e) {
            method = null;
        } catch (LinkageError e) {
            return cannotLoad(name, e);
        }
        if (method == null || !Modifier.isStatic(method.getModifiers()) || method.getReturnType() != void.class)
            return "53: The main class '" + name + "' has no public static void main(String[])\r\n\r\n"
                + "\tDeclare it as public static void main(String[] args), or name another class with main=";
        if (launcherCallsMain()) {
            handMain(main, method, words);
            handed = true;
            return null;
        }
        log("boot.main.invoke");
        // As java does: main need not be in a public class.
        try {
            method.setAccessible(true);
        } catch (RuntimeException e) {
            // A class of a module that does not open its package: invoke
            // then tells whether main is reachable.
        }
        try {
            method.invoke(null, (Object) words);
            return null;
        } catch (Throwable t) {
            // One handler, its cases told apart by instanceof: the verifier
            // loads the class of every handler's type when this class is
            // loaded, and these are not in the runtimes' shared archives.
            if (t instanceof InvocationTargetException) return thrown(t.getCause(), windowed);
            if (t instanceof ExceptionInInitializerError) return thrown(t, windowed);
            if (t instanceof IllegalAccessException)
                return "53: The main method of '" + name + "' cannot be called: " + t + "\r\n\r\n"
                    + "\tMake the main class public, or have its module open its package";
            if (t instanceof Error) throw (Error) t;
            throw (RuntimeException) t;
        }
    }

    // The launcher binds these two natives before it calls boot: main is
    // then called by the launcher through JNI, as java calls it (see the
    // hand-off above). Reflection would reach main as well, but from Java
    // 18 on its first call spins method handle classes at a cost of 10 to
    // 20 ms, and main's frame would not be the bottom one. Without the
    // natives (a launcher that does not bind them) reflection is the way.
    private static native boolean launcherCalls();

    private static native void handMain(Class<?> main, Method method, String[] words);

    // Called by the launcher when the main it called threw: the error text
    // to report.
    private static String mainThrew(Throwable t) {
        String text = thrown(t, windowedApp);
        log("boot.error=" + firstLine(text));
        return text;
    }

    private static boolean launcherCallsMain() {
        try {
            return launcherCalls();
        } catch (LinkageError e) {
            // UnsatisfiedLinkError, named by its shared superclass (see start).
            return false;
        }
    }

    private static String cannotLoad(String name, LinkageError e) {
        String fix = e instanceof UnsupportedClassVersionError
            ? "Compile it for Java " + System.getProperty("java.version")
                + " or earlier, or raise minver so that a newer runtime runs it"
            : "Check that the jars it needs are packed";
        return "52: The main class '" + name + "' could not be loaded: " + e + "\r\n\r\n\t" + fix;
    }

    // The exception that ended main, printed as java prints it; the text for
    // the launcher names it and, for a windowed application, carries the trace.
    private static String thrown(Throwable t, boolean windowed) {
        for (Throwable c = t, seen = null; c != null && c != seen; seen = c, c = c.getCause()) trimInvocation(c);
        System.out.flush();
        System.err.print("Exception in thread \"" + Thread.currentThread().getName() + "\" ");
        t.printStackTrace();
        System.err.flush();
        String what = t.getCause() == null ? t.toString() : t + ", caused by " + t.getCause();
        String text = "54: The application ended with an exception: " + what + "\r\n\r\n\t";
        if (!windowed) return text + "Its stack trace is on standard error; fix the fault in the application";
        // A byte stream, not a StringWriter: see start.
        ByteArrayOutputStream trace = new ByteArrayOutputStream();
        t.printStackTrace(new PrintStream(trace, true));
        String[] lines = trace.toString().split("\r?\n");
        StringBuilder box = new StringBuilder(text);
        for (int i = 1; i < lines.length && i <= box_trace_lines; i++)
            box.append(i > 1 ? "\r\n\t" : "").append(lines[i].trim());
        if (lines.length > box_trace_lines + 1) box.append("\r\n\t...");
        return box.toString();
    }

    // Drops the frames of this class and of the reflective call into main
    // (the class initialisation included) from a trace, so that it reads as
    // java's own trace of main.
    private static void trimInvocation(Throwable t) {
        StackTraceElement[] trace = t.getStackTrace();
        int end = 0;
        while (end < trace.length && !trace[end].getClassName().equals("glimvaneboot")) end++;
        if (end == trace.length) return;
        while (end > 0 && isReflection(trace[end - 1].getClassName())) end--;
        StackTraceElement[] kept = new StackTraceElement[end];
        System.arraycopy(trace, 0, kept, 0, end);
        t.setStackTrace(kept);
    }

    private static boolean isReflection(String name) {
        return name.startsWith("java.lang.reflect.") || name.startsWith("java.lang.invoke.")
            || name.startsWith("jdk.internal.") || name.startsWith("sun.reflect.") || name.startsWith("sun.misc.");
    }

    // The value of the first "key=" anywhere in the text, up to the line
    // feed that ends it; none when absent or when no line feed follows. The
    // launcher looks its own keys up by the same rule.
    private static String lookup(String vars, String key) {
        int at = vars.indexOf(key + "=");
        if (at < 0) return null;
        int start = at + key.length() + 1;
        int end = vars.indexOf('\n', start);
        return end < 0 ? null : vars.substring(start, end);
    }

    private static String element(String[] a, int i) {
        return a != null && i < a.length && a[i] != null ? a[i] : "";
    }

    private static String firstLine(String text) {
        int end = text.indexOf('\r');
        return end < 0 ? text : text.substring(0, end);
    }

    // The launcher's debug log form, with the milliseconds since this class
    // was loaded.
    private static void log(String text) {
        if (!debug) return;
        long ms = (System.nanoTime() - loaded) / 1000000;
        System.out.print("!" + text + " [" + ms + "]\r\n");
        System.out.flush();
    }
}
