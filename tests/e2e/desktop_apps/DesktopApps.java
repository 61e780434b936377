// The applications of the splash screen and single instance tests.
import java.awt.Color;
import java.awt.SplashScreen;
import java.io.File;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;

// Says whether it has the splash, waits 3 s, then shows a green window
// until the file named by its first word exists.
class SplashWindow {
    public static void main(String[] args) throws Exception {
        SplashScreen splash = null;
        try {
            splash = SplashScreen.getSplashScreen();
        } catch (UnsatisfiedLinkError e) {
            // A runtime without the splash library.
        }
        System.out.println("splash " + (splash != null && splash.isVisible()));
        System.out.flush();
        Thread.sleep(3000);
        SwingUtilities.invokeAndWait(() -> {
            JFrame frame = new JFrame("window");
            frame.getContentPane().setBackground(Color.GREEN);
            frame.setUndecorated(true);
            frame.setBounds(0, 0, 640, 480);
            frame.setVisible(true);
        });
        Thread.sleep(500);
        System.out.println("window splash " + (SplashScreen.getSplashScreen() != null));
        System.out.flush();
        File stop = new File(args[0]);
        while (!stop.exists()) Thread.sleep(20);
        System.exit(0);
    }
}

// The instance: prints the words of each later launch on a line, until the
// file named by its first word exists.
class Instance {
    public static void main(String[] args) throws Exception {
        System.out.println("ready");
        System.out.flush();
        File stop = new File(args[0]);
        while (!stop.exists()) Thread.sleep(20);
        System.exit(0);
    }

    public static void words(String[] words) {
        StringBuilder line = new StringBuilder("words");
        for (String w : words) line.append(" [").append(w).append(']');
        line.append(" on ").append(Thread.currentThread().getName());
        synchronized (Instance.class) {
            System.out.println(line);
            System.out.flush();
        }
    }
}
